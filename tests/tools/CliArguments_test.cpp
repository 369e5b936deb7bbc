// The vizadavu program's command line, field files and output file, without a
// server: these run on every platform.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "tests/tools/RunCli.h"
#include "tools/vizadavu/Cli.h"
#include "vizadavu/Version.h"

namespace vizadavu::test {
namespace {

using cli::Options;
using cli::ParseArguments;
using cli::UsageError;

TEST(CliArguments, OptionsAndFieldsInOrder) {
  const Options o = ParseArguments({"-p", "--read-size=5000", "http://h/x", "a=1", "--get", "b=x y",
                                    "-o", "out", "c=", "--strict-certificates", "--", "-d=-"});
  EXPECT_TRUE(o.plain);
  EXPECT_TRUE(o.strictCertificates);
  EXPECT_EQ(o.readSize, 5000);
  EXPECT_EQ(o.action, 0);
  EXPECT_EQ(o.url, "http://h/x");
  EXPECT_EQ(o.output, "out");
  const std::vector<std::pair<std::string, std::string>> fields = {
      {"a", "1"}, {"b", "x y"}, {"c", ""}, {"-d", "-"}};
  EXPECT_EQ(o.fields, fields);
  EXPECT_EQ(ParseArguments({"--action", "-7", "u"}).action, -7);
  EXPECT_EQ(ParseArguments({"u", "k=v=w"}).fields[0].second, "v=w");
}

TEST(CliArguments, BadInputIsAUsageError) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {},
           {"--bogus", "u"},
           {"u", "novalue"},
           {"u", "=x"},
           {"-a", "12x", "u"},
           {"-a", "99999999999", "u"},
           {"-r", "", "u"},
           {"u", "-r"},
           {"--plain=yes", "u"},
           {"--strict-certificates=1", "u"},
           {"-gp", "u"},
       }) {
    EXPECT_THROW(ParseArguments(args), UsageError) << ::testing::PrintToString(args);
    const Result r = RunCli(args);
    EXPECT_EQ(r.status, cli::kExitUsage);
    EXPECT_NE(r.err.find("usage: vizadavu"), std::string::npos) << r.err;
  }
#ifdef _WIN32
  // No loopback server in the Windows build.
  EXPECT_EQ(RunCli({"--demo"}).status, cli::kExitUsage);
#endif
  // A value outside Action's 16 bits is refused before anything is sent.
  EXPECT_EQ(RunCli({"-a", "40000", "http://127.0.0.1:1/"}).status, cli::kExitUsage);
}

TEST(CliArguments, HelpAndFileErrors) {
  const Result help = RunCli({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* expected : {"--read-size", "Examples:", "--query https://", "\n  0 ", "\n  1 ",
                               "\n  63 ", "\n  64 ", "\n  66 ", "\n  73 ", "\n  74 "}) {
    EXPECT_NE(help.out.find(expected), std::string::npos) << expected;
  }
  EXPECT_EQ(RunCli({"--version"}).out, "vizadavu " VIZADAVU_VERSION "\n");

  const Result missing = RunCli({"-f", "/nonexistent/fields", "http://127.0.0.1:1/"});
  EXPECT_EQ(missing.status, cli::kExitNoInput);
  EXPECT_NE(missing.err.find("/nonexistent/fields"), std::string::npos);

  const Result badLine = RunCli({"-f", "-", "http://127.0.0.1:1/"}, "a=1\n\n# note\nbroken\n");
  EXPECT_EQ(badLine.status, cli::kExitUsage);
  EXPECT_NE(badLine.err.find("standard input:4"), std::string::npos) << badLine.err;

  const Result unwritable = RunCli({"-o", "/nonexistent/dir/out", "http://127.0.0.1:1/"});
  EXPECT_EQ(unwritable.status, cli::kExitCannotCreate);

  // The output replaces an existing file (rename() would refuse on Windows),
  // whose name is UTF-8 like every argument, and leaves nothing beside it.
  const auto dir = std::filesystem::temp_directory_path() /
                   ("vizadavu-cli-output-" + std::to_string(std::random_device()()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directory(dir);
  const auto path = dir / std::u8string(u8"r\u00E9ponse");
  const std::u8string utf8 = path.u8string();
  std::ofstream(path) << "earlier";
  const Result refused =
      RunCli({"-p", "-o", std::string(utf8.begin(), utf8.end()), "http://127.0.0.1:1/"});
  EXPECT_EQ(refused.status, cli::kExitTransferError) << refused.err;
  EXPECT_EQ(std::filesystem::file_size(path), 0u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
  std::filesystem::remove_all(dir);

  // Invalid UTF-8 is reported as such, with its line.
  const Result latin1 = RunCli({"-f", "-", "http://127.0.0.1:1/"}, "a=1\nb=caf\xE9\n");
  EXPECT_EQ(latin1.status, cli::kExitUsage);
  EXPECT_NE(latin1.err.find("standard input:2: not UTF-8"), std::string::npos) << latin1.err;
}

TEST(CliFields, ByteOrderMarkAndQueryStrings) {
  std::istringstream in(
      "\xEF\xBB\xBF"
      "a=1\r\n# \xEF\xBB\xBF\nb=\xC3\xA9\n");
  std::vector<std::pair<std::string, std::string>> fields;
  ASSERT_TRUE(cli::ReadFields(in, "f", fields));
  const std::vector<std::pair<std::string, std::string>> expected = {{"a", "1"}, {"b", "\xC3\xA9"}};
  EXPECT_EQ(fields, expected);

  const std::vector<std::pair<std::string, std::string>> query = {
      {"q", "x y"}, {"s", "&=%"}, {"blank", "  "}, {"c", "\xC3\xA9\xE4\xB8\xAD"}};
  struct Case {
    const char* url;
    const char* expected;
  } cases[] = {
      {"http://h/s", "http://h/s?q=x+y&s=%26%3D%25&c=%E9%3F"},
      {"http://h/s?a=1", "http://h/s?a=1&q=x+y&s=%26%3D%25&c=%E9%3F"},
      {"http://h/s#top", "http://h/s?q=x+y&s=%26%3D%25&c=%E9%3F#top"},
      {"h", "h?q=x+y&s=%26%3D%25&c=%E9%3F"},
  };
  for (const Case& c : cases) EXPECT_EQ(cli::WithQuery(c.url, query), c.expected) << c.url;
  EXPECT_EQ(cli::WithQuery("http://h/", {{"blank", " "}}), "http://h/");
  EXPECT_EQ(ParseArguments({"-q", "u"}).action, 0);
  EXPECT_EQ(ParseArguments({"-a", "1", "-q", "u"}).action, 1);
}

}  // namespace
}  // namespace vizadavu::test
