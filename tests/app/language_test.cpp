// The operator's language: the built binary under an English and a Chinese
// locale, and the Chinese catalogue against the messages it translates.

#include <gtest/gtest.h>

#include <fmt/args.h>
#include <fmt/format.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include "db/ledger.hpp"
#include "reports/translate.hpp"
#include "run_binary.hpp"
#include "start_directory.hpp"
#include "support/temp_dir.hpp"

namespace cuserver {
namespace {

TEST(Language, TheCommandLineSpeaksTheLocalesLanguageAndKeepsTheSystemsOwnTexts) {
  // A fresh machine may lack the Chinese locale: one is made for the test.
  TempDir locales;
  const std::string make = "localedef -i zh_CN -f UTF-8 '" + (locales.Path() / "zh_CN.UTF-8").string() + "' 2>&1";
  ASSERT_EQ(std::system(make.c_str()), 0) << "localedef (Debian package locales) could not make zh_CN.UTF-8";
  const std::string english = "LC_ALL= LC_MESSAGES= LANG=C.UTF-8";
  const std::string chinese = "LC_ALL= LC_MESSAGES= LOCPATH='" + locales.Path().string() + "' LANG=zh_CN.UTF-8";

  StartDirectory start;
  start.WriteSettings("[General]\nBackend=sqlite3\nDataSource=fleet.db\n");
  start.AddDrive("20140319", "13900000001", 3, 60);
  Ledger(start.Db()).EnsureTables();
  std::ofstream(start.Path() / "absent.ini") << "[General]\nBackend=sqlite3\nDataSource=absent.db\n";
  std::ofstream(start.Path() / "wrong.ini") << "[General]\nBackend=Oracle\nDataSource=fleet.db\n";

  struct Case {
    const char* args;
    int status;
    const char* inEnglish;
    const char* inChinese;
  };
  const Case cases[] = {
      {"--help", 0, "Print the version and exit", "显示版本并退出"},
      {"run-day --help", 0, "Compute every report of one day", "计算一天的所有报表"},
      {"simulate --day 20140319 --vehicles 0", 2, "--vehicles must be 1 to 1000000", "--vehicles 应为 1 到 1000000"},
      {"days --from 20140319 --bogus", 2, "not expected: --bogus", "多余的参数：--bogus"},
      {"fly", 2, "unknown command: fly", "未知命令：fly"},
      {"days --from 20140318 --to 20140319", 0, "20140318  no GPS table", "20140318  没有GPS表"},
      {"days --from 20140318 --to 20140319", 0, "attempts", "计算次数"},
      // The settings' and the database's refusals.
      {"--config wrong.ini days", 3, "use sqlite3, postgresql, mysql or odbc", "应为 sqlite3、postgresql、mysql 或 odbc"},
      {"--config absent.ini days", 3, "absent.db does not exist", "absent.db 不存在"},
      // The system's own refusal, and the answer scripts read, in every locale.
      {"run-day 20990101", 2, "日期超出指定范围！", "日期超出指定范围！"},
      {"days --from 20140319 --to 20140319 --json", 0, "\"state\":\"not computed\"", "\"state\":\"not computed\""},
  };
  for (const Case& c : cases) {
    for (const auto& [locale, expected] : {std::pair{english, c.inEnglish}, std::pair{chinese, c.inChinese}}) {
      const Outcome run = RunCuserver(start.Path(), c.args, locale);
      EXPECT_EQ(run.status, c.status) << c.args << " under " << locale << "\n" << run.err;
      EXPECT_NE((run.out + run.err).find(expected), std::string::npos)
          << c.args << " under " << locale << "\n" << run.out << run.err;
    }
  }
}

// msgid/msgstr pairs of a catalogue written by msgmerge (one string a line,
// continued on lines of their own).
std::map<std::string, std::string> ReadCatalogue(const std::string& file) {
  std::map<std::string, std::string> entries;
  std::ifstream in(file);
  std::string line, id, text, *filling = nullptr;
  const auto unquote = [](const std::string& quoted) {
    std::string out;
    for (std::size_t i = quoted.find('"') + 1; i + 1 < quoted.size(); ++i) {
      if (quoted[i] == '\\') out += quoted[++i] == 'n' ? '\n' : quoted[i];
      else out += quoted[i];
    }
    return out;
  };
  const auto flush = [&] {
    if (!id.empty()) entries[id] = text;
    id.clear();
    text.clear();
  };
  while (std::getline(in, line)) {
    if (line.starts_with("msgid ")) {
      flush();
      filling = &id;
    } else if (line.starts_with("msgstr ")) {
      filling = &text;
    } else if (!line.starts_with("\"")) {
      continue;
    }
    if (filling != nullptr) *filling += unquote(line);
  }
  flush();
  return entries;
}

TEST(Language, EachTranslationIsTheServicesWordsAndReadsItsMessagesArguments) {
  const auto catalogue = ReadCatalogue(CUSERVER_CATALOGUE);
  ASSERT_GT(catalogue.size(), 100u);
  // The service speaks Chinese in the C locale it may be started in.
  UseChineseMessages();
  for (const auto& [english, chinese] : catalogue) {
    EXPECT_STREQ(Tr(english.c_str()), chinese.c_str());
    std::size_t arguments = 0;
    for (std::size_t at = english.find("{}"); at != std::string::npos; at = english.find("{}", at + 2)) ++arguments;
    fmt::dynamic_format_arg_store<fmt::format_context> values;
    for (std::size_t i = 0; i < arguments; ++i) values.push_back(fmt::format("<{}>", i));
    try {
      const std::string shown = fmt::vformat(chinese, values);
      for (std::size_t i = 0; i < arguments; ++i) {
        EXPECT_NE(shown.find(fmt::format("<{}>", i)), std::string::npos) << english << " -> " << chinese;
      }
    } catch (const fmt::format_error& error) {
      ADD_FAILURE() << english << " -> " << chinese << ": " << error.what();
    }
  }
  UseSourceLanguage();
  EXPECT_STREQ(Tr("unknown failure"), "unknown failure") << "the command line's --json speaks English again";
}

}  // namespace
}  // namespace cuserver
