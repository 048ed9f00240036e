// The designer's four dialogs.
#pragma once

#include "tagwright/bar_width.h"
#include "tagwright/control_name.h"
#include "tagwright/page_set.h"
#include "tagwright/text_set.h"
