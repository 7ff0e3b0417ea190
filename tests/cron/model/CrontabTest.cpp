#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Quillwick/cron/Crontab.h"
#include "support/SandboxRoot.h"

namespace qw::test {
namespace {

using Kind = Crontab::Line::Kind;

CronJob jobOf(const Crontab::Line& line) {
    EXPECT_EQ(line.kind(), Kind::job);
    return line.cronJob();
}

TEST(CrontabParsing, eachLineFindsItsKind) {
    struct Case {
        std::string line;
        Kind kind;
    };
    const Case cases[] = {
        {"", Kind::blank},
        {" \t\u3000", Kind::blank},
        {"# a note", Kind::comment},
        {"   # indented", Kind::comment},
        {"#", Kind::comment},
        {"# MAILTO=x", Kind::comment},
        {"MAILTO=", Kind::variable},
        {"PATH = /bin", Kind::variable},
        {"# @author Someone", Kind::comment},  // no "@" word cron knows: a note, not an entry
        {"#61 25 * * * /bin/x", Kind::comment},
        {"61 25 * * * /bin/x", Kind::job},     // listed, so that its refusal can be shown
        {"Ünïcødé_1=x", Kind::variable},
        {"=x", Kind::unparsed},
        {"@reboot", Kind::unparsed},
        {"@reboot\t/bin/x", Kind::job},  // a tab ends the "@" word as it ends a field
        {"*/15 * * * *", Kind::unparsed},
        {"0 9 * * *   ", Kind::unparsed},
        {"60x * * * * /bin/x", Kind::unparsed},
        {"0 0 * mon * /bin/x", Kind::unparsed},
        {"0 0 jan * * /bin/x", Kind::unparsed},
        {"99999999999999999999 * * * * /bin/x", Kind::unparsed},
        {"0\u00a09 * * * * /bin/x", Kind::unparsed},
        {"0 9 * * 1-5 /bin/x", Kind::job},
        {"99 5- 1,,2 */0 jan-99 /bin/x", Kind::unparsed},  // "jan" is no weekday
        {"99 5- 1,,2 jan-99 */0 /bin/x", Kind::job},
        {"+5 * * * * /bin/x", Kind::job},
        {", - / */ * /bin/x", Kind::job},
        {"0 9 * JAN mon /bin/x", Kind::job},
        {"0 9 * * * A=b c", Kind::job},
    };
    for (const auto& c : cases) EXPECT_EQ(Crontab::Line::parsing(c.line, 0).kind(), c.kind) << c.line;
}

TEST(CrontabParsing, jobLinesKeepTheirFieldsCommandAndCommentMarks) {
    CronJob job = jobOf(Crontab::Line::parsing("0 9 * * 1-5 /bin/x  --a   b ", 7));
    EXPECT_EQ(job.line, 7);
    EXPECT_EQ(job.schedule, CronSchedule::fields({"0", "9", "*", "*", "1-5"}));
    EXPECT_EQ(job.command, "/bin/x  --a   b");
    EXPECT_FALSE(job.isDisabled);

    // cron matches "@" words case by case, so the word is kept as written for the checks to refuse.
    job = jobOf(Crontab::Line::parsing("@REBOOT   /bin/x", 0));
    EXPECT_EQ(job.schedule, CronSchedule::special("@REBOOT"));
    EXPECT_EQ(job.command, "/bin/x");
    job = jobOf(Crontab::Line::parsing("@daily\t/usr/local/bin/x --quiet", 0));
    EXPECT_EQ(job.schedule, CronSchedule::special("@daily"));
    EXPECT_EQ(job.command, "/usr/local/bin/x --quiet");

    for (const std::string line : {"#0 * * * * x", "# 0 * * * * x", "## 0 * * * * x", "# #\t0 * * * * x"}) {
        job = jobOf(Crontab::Line::parsing(line, 0));
        EXPECT_TRUE(job.isDisabled) << line;
        EXPECT_EQ(job.command, "x");
    }

    // cron drops the blanks around "=".
    for (const std::string line : {"  A = b=c ", "A= b=c", "A\t=b=c"}) {
        const auto variable = Crontab::Line::parsing(line, 0);
        EXPECT_EQ(variable.variableName(), "A") << line;
        EXPECT_EQ(variable.variableValue(), "b=c") << line;
    }

    // A blank escaped at the end belongs to the command: sh runs "echo a\ ", not "echo a\".
    EXPECT_EQ(jobOf(Crontab::Line::parsing("* * * * * echo a\\ ", 0)).command, "echo a\\ ");
    EXPECT_EQ(jobOf(Crontab::Line::parsing("#@daily echo a\\\t  ", 0)).command, "echo a\\\t");
    EXPECT_EQ(jobOf(Crontab::Line::parsing("* * * * * echo a\\\\ ", 0)).command, "echo a\\\\");

    // A carriage return is no white space: it stays at the end of the command.
    EXPECT_EQ(jobOf(Crontab::Line::parsing("0 9 * * * /bin/x\r", 0)).command, "/bin/x\r");
}

TEST(CrontabParsing, aLineOfAMillionHashesIsAComment) {
    const std::string line(1'000'000, '#');
    const auto parsed = Crontab::Line::parsing(line, 0);
    EXPECT_EQ(parsed.kind(), Kind::comment);
    EXPECT_EQ(parsed.rawText(), line);
    EXPECT_TRUE(jobOf(Crontab::Line::parsing(line + " 0 9 * * * /bin/x", 0)).isDisabled);
    // Blanks at the end are passed over once, not once for every "#".
    EXPECT_EQ(Crontab::Line::parsing(line + std::string(100'000, ' '), 0).kind(), Kind::comment);
}

TEST(CrontabWriting, everyLineComesBackByteForByte) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "\n"},
        {"\n", "\n"},
        {"\n\n", "\n\n"},
        {"   \n", "   \n"},
        {"a\n \t\n\u3000\nb\n", "a\n \t\n\u3000\nb\n"},
        {"x", "x\n"},
        {"  # indented  \n", "  # indented  \n"},
        {"# 0 5 * * 1 tar -zcf /var/backups/home.tgz /home/\n", "# 0 5 * * 1 tar -zcf /var/backups/home.tgz /home/\n"},
        {"# @author Someone\n", "# @author Someone\n"},
        {"\t0\t9  *   * *\t/bin/x  a\n", "\t0\t9  *   * *\t/bin/x  a\n"},
        {"* * * * * echo a\\ \n", "* * * * * echo a\\ \n"},
        {"@DAILY \t /bin/x", "@DAILY \t /bin/x\n"},
        {"  MAILTO = me  \n", "  MAILTO = me  \n"},
    };
    for (const auto& [text, written] : cases) {
        const Crontab crontab = Crontab::parsing(text);
        EXPECT_EQ(crontab.text(), written) << text;
        EXPECT_EQ(Crontab::parsing(written), crontab) << text;
    }
    EXPECT_EQ(Crontab::parsing("").lines, std::vector{Crontab::Line::blank()});
    EXPECT_EQ(Crontab::parsing("\n").lines, std::vector{Crontab::Line::blank()});
    EXPECT_EQ(Crontab().text(), "\n");
}

std::vector<std::string> piecesOf(const std::string& text) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (std::size_t feed; (feed = text.find('\n', start)) != std::string::npos; start = feed + 1)
        pieces.push_back(text.substr(start, feed - start));
    pieces.push_back(text.substr(start));
    return pieces;
}

// Written back, every line that is not a job or a variable comes back byte for byte at its own index,
// and reading the written text gives the same crontab.
void expectRoundTrip(const std::string& text, const std::string& name) {
    const Crontab crontab = Crontab::parsing(text);
    const std::string written = crontab.text();
    EXPECT_EQ(Crontab::parsing(written), crontab) << name;
    const auto before = piecesOf(text);
    const auto after = piecesOf(written);
    ASSERT_GE(after.size(), crontab.lines.size()) << name;
    for (std::size_t i = 0; i < crontab.lines.size(); ++i) {
        const auto kind = crontab.lines[i].kind();
        if (kind == Kind::comment || kind == Kind::unparsed || kind == Kind::blank) {
            EXPECT_EQ(after[i], before[i]) << name << ":" << i;
        }
        if (kind == Kind::job) {
            EXPECT_EQ(crontab.lines[i].cronJob().line, static_cast<std::int64_t>(i));
        }
    }
    if (text.ends_with('\n')) {
        EXPECT_EQ(after.size(), before.size()) << name;
    }
}

TEST(CrontabWriting, theCorpusComesBackAsItWasRead) {
    for (const auto& entry : std::filesystem::directory_iterator(CRON_TEST_DATA)) {
        const std::string text = readFile(entry.path());
        ASSERT_FALSE(text.empty()) << entry.path();
        expectRoundTrip(text, entry.path().filename().string());
    }
    // Whole files come back unchanged, gaining at most a final line feed.
    for (const auto& entry : std::filesystem::directory_iterator(CRON_TEST_DATA)) {
        const std::string text = readFile(entry.path());
        EXPECT_EQ(Crontab::parsing(text).text(), text.ends_with('\n') ? text : text + "\n") << entry.path();
    }
}

TEST(CrontabWriting, bytesThatAreNotUtf8AreWrittenBackAsRead) {
    const Crontab crontab = Crontab::parsing(readFile(std::string(CRON_TEST_DATA) + "/not-utf8"));
    ASSERT_EQ(crontab.lines.size(), 5u);
    EXPECT_EQ(crontab.lines[0].rawText(), "# caf\xe9 in Latin-1");
    EXPECT_EQ(jobOf(crontab.lines[1]).command, "/bin/echo \xff\xfe broken");
    EXPECT_EQ(crontab.lines[2].kind(), Kind::unparsed);
    EXPECT_EQ(crontab.lines[3].kind(), Kind::comment);  // a stray byte is no blank before the minute
    // An em space is white space and is trimmed at both ends.
    EXPECT_EQ(jobOf(crontab.lines[4]).command, "/bin/em-spaced");
}

TEST(CrontabWriting, aTenThousandLineCrontabRoundTrips) {
    std::string text;
    for (int i = 0; i < 10'000; ++i) {
        switch (i % 4) {
        case 0: text += "# entry " + std::to_string(i) + "\n"; break;
        case 1: text += std::to_string(i % 60) + " */2 * * mon-fri /bin/job" + std::to_string(i) + "\n"; break;
        case 2: text += "#@hourly  /bin/paused\n"; break;
        default: text += "V" + std::to_string(i) + "=" + std::to_string(i) + "\n"; break;
        }
    }
    expectRoundTrip(text, "ten thousand");
    EXPECT_EQ(Crontab::parsing(text).jobs().size(), 5'000u);
}

TEST(CrontabEdits, replaceRemoveAndAddWorkByLineNumber) {
    Crontab crontab = Crontab::parsing("# head\n#0 9 * * * /bin/a\nA=1\n\n30 * * * * /bin/b\nA=2\n# tail\n");
    ASSERT_EQ(crontab.jobs().size(), 2u);
    EXPECT_EQ(crontab.jobs()[0].line, 1);
    EXPECT_EQ(crontab.jobs()[1].line, 4);
    EXPECT_EQ(crontab.environment(), (std::map<std::string, std::string>{{"A", "2"}}));

    CronJob on = crontab.jobs()[0];
    on.isDisabled = false;
    crontab.replacing(on);
    EXPECT_EQ(crontab.text(), "# head\n0 9 * * * /bin/a\nA=1\n\n30 * * * * /bin/b\nA=2\n# tail\n");

    const Crontab before = crontab;
    CronJob stranger = on;
    stranger.line = 2;
    crontab.replacing(stranger);
    crontab.removing(stranger);
    EXPECT_EQ(crontab, before);

    CronJob added;
    added.schedule = CronSchedule::special("@weekly");
    added.command = "/bin/c";
    added.isDisabled = true;
    crontab.adding(added);
    EXPECT_EQ(crontab.jobs().back().line, 5);  // one past the highest job, not the next line index
    EXPECT_EQ(crontab.text(), "# head\n0 9 * * * /bin/a\nA=1\n\n30 * * * * /bin/b\nA=2\n# tail\n#@weekly /bin/c\n");

    crontab.removing(crontab.jobs()[1]);
    EXPECT_EQ(crontab.text(), "# head\n0 9 * * * /bin/a\nA=1\n\nA=2\n# tail\n#@weekly /bin/c\n");

    // Only the edited line is written anew.
    Crontab spaced = Crontab::parsing("# @author Someone\n0  9 * * *  /bin/a\n* * * * * echo a\\ \n");
    const Crontab untouched = spaced;
    spaced.replacing(spaced.jobs()[1]);
    EXPECT_EQ(spaced, untouched);
    CronJob off = spaced.jobs()[0];
    off.isDisabled = true;
    spaced.replacing(off);
    EXPECT_EQ(spaced.text(), "# @author Someone\n#0 9 * * * /bin/a\n* * * * * echo a\\ \n");
    EXPECT_EQ(Crontab::parsing(spaced.text()).jobs()[1].command, "echo a\\ ");

    Crontab comments = Crontab::parsing("# only\n");
    comments.adding(added);
    EXPECT_EQ(comments.jobs().front().line, 0);
}

}  // namespace
}  // namespace qw::test
