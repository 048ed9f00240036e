// The TSC printer library's eight functions, called as the printer maker's library is
// called: zero-terminated 8-bit strings (text in code page 936; a null pointer counts as
// the empty text), numbers as decimal text, a result of 1 for success and 0 for failure
// that callers need not examine.
//
// The functions write TSPL, one command a line, each line ending in CR LF, into one raw
// job on the CUPS queue named by openport. One port is open per process at a time; the
// state is shared by all threads and guarded by one lock.
//
// Failures stay quiet and harmless, as with the printer maker's library: a queue that
// cannot be opened makes every later call do nothing until the next openport, and a call
// without an open port does nothing. An argument that would break the command stream (a
// CR or LF where it would end the line, a number that is no decimal number) makes that
// one call send nothing, so data can never become a command of its own.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform::tsclib {

// Starts one raw job on the CUPS queue named `printer` (converted from code page 936 to
// the queue's UTF-8 name). A port still open is closed first, its job sent as it stands.
int openport(const char* printer) noexcept;

// SIZE width mm,height mm / SPEED speed / DENSITY density, then for sensor "0" (gap
// sensor) GAP gap mm,offset mm, for sensor "1" (black mark) BLINE gap mm,offset mm.
int setup(const char* width, const char* height, const char* speed, const char* density,
          const char* sensor, const char* vertical, const char* offset) noexcept;

// CLS: empties the printer's label image.
int clearbuffer() noexcept;

// One command line, sent as given.
int sendcommand(const char* command) noexcept;

// Draws `content` (code page 936) with the font `szFaceName` at `fontheight` dots into a
// one-bit picture and sends it as a BITMAP at x,y in OR mode, so that it erases nothing
// already drawn. rotation is 0, 90, 180 or 270 degrees clockwise (any other value, an
// empty text or a height below 1 sends nothing); fontstyle bit 1 is italic, bit 2 bold;
// fontunderline non-zero underlines. CR and LF in the text are drawn, never sent.
//
// Qt draws the text, so the process needs a QGuiApplication: when none exists, the first
// call creates a minimal one for the rest of the process (on the offscreen platform when
// there is no display). The faces "宋体" and "SimSun" are drawn with an installed CJK font
// and "Arial" with Liberation Sans.
int windowsfont(int x, int y, int fontheight, int rotation, int fontstyle,
                int fontunderline, const char* szFaceName, const char* content) noexcept;

// BARCODE x,y,"type",height,readable,rotation,narrow,wide,"data".
int barcode(const char* x, const char* y, const char* type, const char* height,
            const char* readable, const char* rotation, const char* narrow,
            const char* wide, const char* code) noexcept;

// PRINT sets,copies.
int printlabel(const char* sets, const char* copies) noexcept;

// Finishes the job's document and ends the job.
int closeport() noexcept;

// Tests see the calls at the eight functions, as made, whether or not a port is open:
// each call becomes one text such as
//   setup("32","20","2.0","5","0","3","0")
//   windowsfont(48,24,40,0,0,0,"宋体","abc")
//   clearbuffer()
// with the 8-bit strings decoded from code page 936 to UTF-8 and written between double
// quotes as they are. An empty function stops the recording.
using CallRecorder = std::function<void(const std::string& callText)>;
void SetCallRecorder(CallRecorder recorder);

// The TSPL text that the functions send, without a printer: what each returns is exactly
// what its function writes into the job; no value means the call is refused and sends
// nothing. The benchmark and the tests build command streams with these.
namespace tspl {

std::optional<std::string> Setup(std::string_view width, std::string_view height,
                                 std::string_view speed, std::string_view density,
                                 std::string_view sensor, std::string_view vertical,
                                 std::string_view offset);
std::string ClearBuffer();
std::optional<std::string> SendCommand(std::string_view command);
std::optional<std::string> Barcode(std::string_view x, std::string_view y,
                                   std::string_view type, std::string_view height,
                                   std::string_view readable, std::string_view rotation,
                                   std::string_view narrow, std::string_view wide,
                                   std::string_view code);
std::optional<std::string> PrintLabel(std::string_view sets, std::string_view copies);

// BITMAP x,y,widthInBytes,heightInDots,1, then the rows (a 0 bit prints a dot), then
// CR LF. Needs a QGuiApplication, as windowsfont (creates one when none exists). Empty
// text, a font height below 1 or another rotation are refused.
std::optional<std::string> WindowsFont(int x, int y, int fontheight, int rotation,
                                       int fontstyle, int fontunderline,
                                       std::string_view faceNameCp936,
                                       std::string_view contentCp936);

// Text inside a TSPL string: a double quote becomes \["]. A CR or LF gives no value.
std::optional<std::string> QuotedString(std::string_view text);

}  // namespace tspl

}  // namespace platform::tsclib
