// The ODBC backend: the pure mappings as tables, the backend itself through
// unixODBC with SQLite's ODBC driver ("SQLite3"), and FreeTDS against servers on
// loopback that refuse, stay silent or only read the login.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sql.h>
#include <sqlext.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

#include "db_test_support.h"
#include "odbc_mapping.h"
#include "platform/db.h"
#include "platform/module.h"

namespace fs = std::filesystem;
using namespace platform::db;
using namespace std::chrono_literals;
using platform::db::detail::OdbcFieldType;
using platform::db::detail::SelectSource;
using platform::db::detail::SimpleSelectSource;
using platform::db::detail::SqlServerOdbcString;

namespace {

using db_test::Message;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(OdbcMapping, ConnectionStringForSqlServer) {
  const std::string tail = ";TDS_Version=7.4;ClientCharset=UTF-8";
  struct Case {
    ConnectionParams in;
    std::string want;
  } cases[] = {
      {{"LIBSRV", "library", "sa", "pw"}, "Driver=FreeTDS;Server=LIBSRV;Database=library;UID=sa;PWD=pw" + tail},
      {{"LIBSRV\\SQLEXPRESS", "library", "sa", "pw"},
       "Driver=FreeTDS;Server=LIBSRV\\SQLEXPRESS;Database=library;UID=sa;PWD=pw" + tail},
      {{"10.0.0.5,1433", "lib", "sa", "pw"}, "Driver=FreeTDS;Server=10.0.0.5;Port=1433;Database=lib;UID=sa;PWD=pw" + tail},
      // With a port the instance is not looked up.
      {{"LIBSRV\\SQLEXPRESS,1500", "lib", "sa", "pw"},
       "Driver=FreeTDS;Server=LIBSRV;Port=1500;Database=lib;UID=sa;PWD=pw" + tail},
      {{" tcp:LIBSRV , 01433 ", "lib", "sa", "pw"},
       "Driver=FreeTDS;Server=LIBSRV;Port=1433;Database=lib;UID=sa;PWD=pw" + tail},
      {{"(local)", "lib", "sa", "pw"}, "Driver=FreeTDS;Server=localhost;Database=lib;UID=sa;PWD=pw" + tail},
      {{"(LOCAL)\\SQLEXPRESS", "lib", "sa", "pw"},
       "Driver=FreeTDS;Server=localhost\\SQLEXPRESS;Database=lib;UID=sa;PWD=pw" + tail},
      {{".,1433", "lib", "sa", "pw"}, "Driver=FreeTDS;Server=localhost;Port=1433;Database=lib;UID=sa;PWD=pw" + tail},
      // An empty password, no database (the login's default), blanks dropped as ADO drops them.
      {{"LIBSRV", "", " sa ", ""}, "Driver=FreeTDS;Server=LIBSRV;UID=sa;PWD=" + tail},
      {{"LIBSRV", "图书馆", "管理员", "口令"}, "Driver=FreeTDS;Server=LIBSRV;Database=图书馆;UID=管理员;PWD=口令" + tail},
      // ';' is braced, and the fixed attributes keep every braced value off the end.
      {{"LIBSRV", "lib;2", "sa;x", "p;w=1"},
       "Driver=FreeTDS;Server=LIBSRV;Database={lib;2};UID={sa;x};PWD={p;w=1}" + tail},
      {{"LIBSRV", "lib", "sa", "{abc"}, "Driver=FreeTDS;Server=LIBSRV;Database=lib;UID=sa;PWD={{abc}" + tail},
      {{"LIBSRV", "lib", "sa", "a{b"}, "Driver=FreeTDS;Server=LIBSRV;Database=lib;UID=sa;PWD=a{b" + tail},
  };
  for (const Case& c : cases) EXPECT_EQ(SqlServerOdbcString(c.in), c.want) << c.in.server << " / " << c.in.password;

  struct Refused {
    ConnectionParams in;
    std::string error;
  } refused[] = {
      {{"LIBSRV", "lib", "sa", "se}cret"}, "password holds the character '}'"},
      {{"LIBSRV", "lib}", "sa", "pw"}, "database name holds the character '}'"},
      {{"LIBSRV", "lib", "s}a", "pw"}, "user name holds the character '}'"},
      {{"LIB}SRV", "lib", "sa", "pw"}, "server name holds the character '}'"},
      {{"  ", "lib", "sa", "pw"}, "no SQL Server named"},
      {{"LIBSRV,", "lib", "sa", "pw"}, "is not a TCP port"},
      {{"LIBSRV,0", "lib", "sa", "pw"}, "\"0\" of the data source \"LIBSRV,0\" is not a TCP port"},
      {{"LIBSRV,65536", "lib", "sa", "pw"}, "is not a TCP port"},
      {{"LIBSRV,14x3", "lib", "sa", "pw"}, "is not a TCP port"},
      {{"LIBSRV\\", "lib", "sa", "pw"}, "names no instance"},
      {{",1433", "lib", "sa", "pw"}, "names no server"},
      {{"\\SQLEXPRESS", "lib", "sa", "pw"}, "names no server"},
  };
  for (const Refused& r : refused) {
    std::string err = Message([&] { SqlServerOdbcString(r.in); });
    EXPECT_TRUE(Has(err, r.error)) << r.in.server << ": " << err;
    EXPECT_FALSE(Has(err, "se}cret")) << "a password never appears in a message";
  }
}

TEST(OdbcMapping, ReportedTypesGiveFieldTypes) {
  struct Case {
    int sqlType, digits;
    const char* name;
    FieldType want;
  } cases[] = {
      // As FreeTDS reports SQL Server's columns.
      {SQL_BIT, 0, "bit", FieldType::Boolean},
      {SQL_TINYINT, 0, "tinyint", FieldType::Integer},
      {SQL_SMALLINT, 0, "smallint", FieldType::Integer},
      {SQL_INTEGER, 0, "int", FieldType::Integer},
      {SQL_BIGINT, 0, "bigint", FieldType::Integer},
      {SQL_DECIMAL, 4, "money", FieldType::Currency},
      {SQL_DECIMAL, 4, "smallmoney", FieldType::Currency},
      {SQL_DECIMAL, 4, "", FieldType::Currency},
      {SQL_DECIMAL, 4, "decimal", FieldType::Decimal},
      {SQL_NUMERIC, 2, "numeric", FieldType::Decimal},
      {SQL_DECIMAL, 0, "", FieldType::Decimal},
      {SQL_FLOAT, 0, "float", FieldType::Float},
      {SQL_REAL, 0, "real", FieldType::Float},
      {SQL_TYPE_TIMESTAMP, 3, "datetime", FieldType::DateTime},
      {SQL_TYPE_TIMESTAMP, 0, "smalldatetime", FieldType::DateTime},
      {SQL_TYPE_TIMESTAMP, 7, "datetime2", FieldType::DateTime},
      {SQL_TYPE_DATE, 0, "date", FieldType::DateTime},
      {SQL_CHAR, 0, "char", FieldType::String},
      {SQL_VARCHAR, 0, "varchar", FieldType::String},
      {SQL_LONGVARCHAR, 0, "text", FieldType::String},
      {SQL_WCHAR, 0, "nchar", FieldType::WideString},
      {SQL_WVARCHAR, 0, "nvarchar", FieldType::WideString},
      {SQL_WVARCHAR, 0, "sysname", FieldType::WideString},
      {SQL_WLONGVARCHAR, 0, "ntext", FieldType::WideString},
      {SQL_WVARCHAR, 0, "", FieldType::WideString},
      {SQL_BINARY, 0, "timestamp", FieldType::Bytes},  // rowversion: eight bytes, no time
      {SQL_BINARY, 0, "binary", FieldType::Bytes},
      {SQL_VARBINARY, 0, "varbinary", FieldType::Bytes},
      {SQL_LONGVARBINARY, 0, "image", FieldType::Bytes},
      {SQL_GUID, 0, "uniqueidentifier", FieldType::String},
      {-154, 7, "time", FieldType::String},
      {-152, 0, "xml", FieldType::WideString},
      {-150, 0, "sql_variant", FieldType::String},
      // As SQLite's driver reports declared types it keeps as text.
      {SQL_VARCHAR, 0, "money", FieldType::Currency},
      {SQL_VARCHAR, 0, "decimal", FieldType::Decimal},
      {SQL_VARCHAR, 0, "nvarchar", FieldType::WideString},
      {SQL_TYPE_TIMESTAMP, 0, "timestamp", FieldType::DateTime},
      {SQL_INTEGER, 0, "INTEGER", FieldType::Integer},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OdbcFieldType(c.sqlType, c.digits, c.name), c.want) << c.sqlType << " " << c.name;
  }
}

TEST(OdbcMapping, PlainSelectNamesItsTable) {
  using Cols = std::vector<std::string>;
  struct Case {
    const char* sql;
    std::optional<SelectSource> want;
  } cases[] = {
      {"Select * from DataChange Order By ChangeId", SelectSource{{"DataChange"}, true, {}}},
      {"select ChangeId, SouId from dbo.DataChange where CmdType='D'",
       SelectSource{{"dbo", "DataChange"}, false, Cols{"ChangeId", "SouId"}}},
      {"SELECT [ChangeId],DataChange.[Sou Id] FROM [lib].[dbo].[DataChange];",
       SelectSource{{"lib", "dbo", "DataChange"}, false, Cols{"ChangeId", "Sou Id"}}},
      {"select 读者编号, 姓名 from \"读者\" -- the readers\n order by 姓名",
       SelectSource{{"读者"}, false, Cols{"读者编号", "姓名"}}},
      {"select * from t where a in (select b from u union select c from v)", SelectSource{{"t"}, true, {}}},
      {"select * from t where s = 'x union y' /* union */", SelectSource{{"t"}, true, {}}},
      {"select * from t; select * from u", SelectSource{{"t"}, true, {}}},
      // Nothing that could give a row another table's key, or a key of another column.
      {"select SouId as ChangeId from DataChange", std::nullopt},
      {"select SouId ChangeId from DataChange", std::nullopt},
      {"select ChangeId+0 from DataChange", std::nullopt},
      {"select max(ChangeId) from DataChange", std::nullopt},
      {"select top 10 * from DataChange", std::nullopt},
      {"select distinct ChangeId from DataChange", std::nullopt},
      {"select *, ChangeId from DataChange", std::nullopt},
      {"select d.* from DataChange d", std::nullopt},
      {"select * from DataChange d", std::nullopt},
      {"select * from a, b", std::nullopt},
      {"select * from a join b on a.x = b.x", std::nullopt},
      {"select * from a where x = 1 union select * from b", std::nullopt},
      {"select * from a group by x", std::nullopt},
      {"select * from (select * from a) x", std::nullopt},
      {"select * from a with (nolock)", std::nullopt},
      {"insert into a select * from b", std::nullopt},
      {"select * from [a", std::nullopt},
      {"select 1", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(SimpleSelectSource(c.sql), c.want) << c.sql;
}

// --- through unixODBC with SQLite's driver ------------------------------------------

namespace {

// The file is made and filled on the SQLite backend, then opened through ODBC.
class OdbcSqlite : public db_test::FolderTest {
 protected:
  static void Connect(Connection& c, const fs::path& file) {
    ConnectTo(c, "odbc:Driver=SQLite3;Database=" + file.string());
  }
};

}  // namespace

TEST_F(OdbcSqlite, RecordSetHoldsEveryRowWithItsType) {
  const std::string longText(5000, 'x');
  fs::path file = MakeDatabase(
      "create table 图书(编号 int primary key, 可借 bit, 价格 money, 折扣 decimal(12,4), 系数 float,"
      " 入库日期 datetime, 书名 varchar(100), 刊名 nvarchar(100), 封面 blob)\n"
      "insert into 图书 values(1, 1, 59.7, '2.00005', 0.1, '2023-09-01 14:20:05.250', '红楼梦', N'读者',"
      " x'00ff10')\n"
      "insert into 图书 values(2, 0, '12.34567', 3, 1e20, '2024-02-20', '𠀀字" + longText + "', '', null)\n"
      "insert into 图书 values(3, null, null, null, null, null, null, null, null)");
  Connection c;
  Connect(c, file);
  EXPECT_TRUE(c.Connected());
  Query q(c);
  q.SetSql("select * from 图书 order by 编号");
  q.Open();
  ASSERT_EQ(q.RecordCount(), 3);
  const char* names[] = {"编号", "可借", "价格", "折扣", "系数", "入库日期", "书名", "刊名", "封面"};
  const FieldType types[] = {FieldType::Integer, FieldType::Boolean,  FieldType::Currency,
                             FieldType::Decimal, FieldType::Float,    FieldType::DateTime,
                             FieldType::String,  FieldType::WideString, FieldType::Bytes};
  ASSERT_EQ(q.FieldCount(), std::size(names));
  for (size_t i = 0; i < q.FieldCount(); ++i) {
    EXPECT_EQ(q.Fields(i).Name(), names[i]);
    EXPECT_EQ(q.Fields(i).Type(), types[i]) << names[i];
    EXPECT_EQ(q.Fields(i).Info().baseTable, "图书") << names[i];
  }
  EXPECT_EQ(q.FieldByName("价格").Info().declaredType, "money");

  EXPECT_EQ(q.FieldByName("编号").AsInteger(), 1);
  EXPECT_EQ(q.FieldByName("可借").AsString(), "True");
  EXPECT_EQ(q.FieldByName("价格").AsCurrency().units, 597000);
  EXPECT_EQ(q.FieldByName("折扣").AsString(), "2");  // 2.00005 to even
  EXPECT_EQ(q.FieldByName("系数").AsFloat(), 0.1);
  EXPECT_EQ(q.FieldByName("入库日期").AsDateTime(), (DateTime{2023, 9, 1, 14, 20, 5, 250}));
  EXPECT_EQ(q.FieldByName("书名").AsString(), "红楼梦");
  EXPECT_EQ(q.FieldByName("刊名").AsString(), "读者");
  EXPECT_EQ(q.FieldByName("封面").AsString(), std::string("\x00\xff\x10", 3));

  q.Next();
  EXPECT_FALSE(q.FieldByName("可借").AsBoolean());
  EXPECT_EQ(q.FieldByName("价格").AsString(), "12.3457");
  EXPECT_EQ(q.FieldByName("系数").AsFloat(), 1e20);
  EXPECT_FALSE(q.FieldByName("入库日期").AsDateTime().HasTimeOfDay());
  // A character outside the BMP and a text longer than one read of the driver.
  EXPECT_EQ(q.FieldByName("书名").AsString(), "𠀀字" + longText);
  EXPECT_FALSE(q.FieldByName("刊名").IsNull());
  EXPECT_EQ(q.FieldByName("刊名").AsString(), "");

  q.Next();
  for (size_t i = 1; i < q.FieldCount(); ++i) EXPECT_TRUE(q.Fields(i).IsNull()) << names[i];
  q.Next();
  EXPECT_TRUE(q.Eof());

  // Expressions and aliases as the driver names them.
  q.SetSql("select count(*) as 册数, 'S01' as StationId from 图书");
  q.Open();
  EXPECT_EQ(q.FieldByName("册数").AsInteger(), 3);
  EXPECT_EQ(q.FieldByName("stationid").AsString(), "S01");
  EXPECT_EQ(q.FieldByName("册数").Info().baseTable, "");
}

TEST_F(OdbcSqlite, UnknownDriverIsAnError) {
  Connection c;
  for (const char* source : {"odbc:Driver=NoSuchDriver;Database=x", "odbc:", "ODBC:  "}) {
    c.SetConnectionString("", {source, "", "", ""});
    std::string err = Message([&] { c.Open(); });
    EXPECT_NE(err, "(no error)") << source;
    EXPECT_FALSE(c.Connected()) << source;
  }
  c.SetConnectionString("", {"odbc:Driver=NoSuchDriver;PWD=secret", "", "", ""});
  std::string err = Message([&] { c.Open(); });
  EXPECT_TRUE(Has(err, "cannot connect to the ODBC data source")) << err;
  EXPECT_FALSE(Has(err, "secret")) << err;
}

// --- FreeTDS against loopback servers -------------------------------------------------

namespace {

// A loopback TCP socket on a port of its own: bound only (connections are refused),
// listening without ever answering, or answering the pre-login and keeping what the
// client's login packet says.
class LoopbackServer {
 public:
  enum Mode { Refuse, Silent, ReadLogin };

  explicit LoopbackServer(Mode mode) : mode_(mode) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("bind");
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    if (mode_ != Refuse && listen(fd_, 8) != 0) throw std::runtime_error("listen");
    if (mode_ == ReadLogin) thread_ = std::thread([this] { Serve(); });
  }
  ~LoopbackServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    close(fd_);
  }

  int Port() const { return port_; }

  struct Login {
    std::string server, user, password, database;
  };
  std::vector<Login> Logins() {
    std::lock_guard<std::mutex> lock(mu_);
    return logins_;
  }

 private:
  static bool Wait(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, ms) > 0;
  }

  // One TDS packet: its type and payload; false when the peer closed or is silent.
  bool ReadPacket(int c, unsigned char& type, std::string& payload) {
    std::string head;
    if (!ReadN(c, 8, head)) return false;
    type = static_cast<unsigned char>(head[0]);
    size_t len = (static_cast<unsigned char>(head[2]) << 8) | static_cast<unsigned char>(head[3]);
    return len >= 8 && ReadN(c, len - 8, payload);
  }
  bool ReadN(int c, size_t n, std::string& out) {
    out.clear();
    while (out.size() < n) {
      if (!Wait(c, 5000)) return false;
      char buf[4096];
      ssize_t got = read(c, buf, std::min(sizeof buf, n - out.size()));
      if (got <= 0) return false;
      out.append(buf, static_cast<size_t>(got));
    }
    return true;
  }

  // The pre-login answer: a version and "encryption not supported".
  static void AnswerPrelogin(int c) {
    const unsigned char body[] = {0x00, 0x00, 0x0B, 0x00, 0x06, 0x01, 0x00, 0x11, 0x00, 0x01, 0xFF,
                                  0x0F, 0x00, 0x07, 0xD0, 0x00, 0x00, 0x02};
    std::string p = {0x04, 0x01, 0x00, static_cast<char>(8 + sizeof body), 0x00, 0x00, 0x01, 0x00};
    p.append(reinterpret_cast<const char*>(body), sizeof body);
    ssize_t ignored = write(c, p.data(), p.size());
    (void)ignored;
  }

  static std::string Ucs2(const std::string& login, size_t at, bool password) {
    auto u16 = [&](size_t i) {
      return static_cast<size_t>(static_cast<unsigned char>(login[i])) |
             (static_cast<size_t>(static_cast<unsigned char>(login[i + 1])) << 8);
    };
    size_t offset = u16(at), chars = u16(at + 2);
    std::string out;
    for (size_t k = 0; k < chars && offset + 2 * k + 1 < login.size(); ++k) {
      unsigned char b[2] = {static_cast<unsigned char>(login[offset + 2 * k]),
                            static_cast<unsigned char>(login[offset + 2 * k + 1])};
      if (password) {
        for (unsigned char& x : b) {
          x ^= 0xA5;
          x = static_cast<unsigned char>((x << 4) | (x >> 4));
        }
      }
      std::uint32_t cp = b[0] | (b[1] << 8);  // the tests keep to the BMP
      if (cp < 0x80) {
        out += static_cast<char>(cp);
      } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
      } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
      }
    }
    return out;
  }

  void Serve() {
    while (!stop_) {
      if (!Wait(fd_, 50)) continue;
      int c = accept(fd_, nullptr, nullptr);
      if (c < 0) continue;
      unsigned char type = 0;
      std::string payload;
      while (ReadPacket(c, type, payload)) {
        if (type == 0x12) {
          AnswerPrelogin(c);
        } else if (type == 0x10 && payload.size() >= 72) {
          std::lock_guard<std::mutex> lock(mu_);
          logins_.push_back({Ucs2(payload, 52, false), Ucs2(payload, 40, false), Ucs2(payload, 44, true),
                             Ucs2(payload, 68, false)});
          break;  // and close: the login never completes
        } else {
          break;
        }
      }
      close(c);
    }
  }

  Mode mode_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mu_;
  std::vector<Login> logins_;
};

}  // namespace

TEST(OdbcSqlServer, ServerThatDoesNotAnswerFailsOpen) {
  for (auto mode : {LoopbackServer::Refuse, LoopbackServer::Silent}) {
    LoopbackServer server(mode);
    std::string source = "127.0.0.1," + std::to_string(server.Port());
    Connection c;
    c.SetConnectionString("Provider=SQLOLEDB.1;Password=secret;Data Source=" + source,
                          {source, "library", "sa", "secret"});
    c.SetConnectTimeout(1s);  // the silent server is given up after it
    std::string err = Message([&] { c.Open(); });
    EXPECT_TRUE(Has(err, "cannot connect to SQL Server " + source)) << err;
    EXPECT_FALSE(Has(err, "secret")) << err;
    EXPECT_FALSE(c.Connected());
    EXPECT_THROW(c.Execute("select 1"), DbError);
  }
}

// What FreeTDS puts into its login packet is what the values were: the braces of
// the connection string are read back off.
TEST(OdbcSqlServer, LoginCarriesTheValues) {
  LoopbackServer server(LoopbackServer::ReadLogin);
  struct Case {
    std::string database, user, password;
  } cases[] = {
      {"library", "sa", "pw"},
      {"图书;馆", "管理员;1", "p;w=x"},
      {"lib", "sa", ""},
      {"lib", "sa", "{abc"},
  };
  for (const Case& k : cases) {
    std::string source = "127.0.0.1," + std::to_string(server.Port());
    Connection c;
    c.SetConnectionString("", {source, k.database, k.user, k.password});
    c.SetConnectTimeout(5s);
    EXPECT_THROW(c.Open(), DbError);
    auto logins = server.Logins();
    ASSERT_FALSE(logins.empty()) << k.password;
    EXPECT_EQ(logins.back().server, "127.0.0.1");
    EXPECT_EQ(logins.back().database, k.database);
    EXPECT_EQ(logins.back().user, k.user);
    EXPECT_EQ(logins.back().password, k.password);
  }
}
