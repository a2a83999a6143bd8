// The simulator's script language as an operator meets it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sim/sim_driver.h"

// The help is the operator's only list of commands: every verb, field, fault and kind it names must
// be one the script language knows, or a newcomer copying it gets "unknown".
TEST(SimScript, EveryCommandTheHelpNamesIsKnown) {
    std::string help = SimScriptHelp();
    std::vector<std::string> lines;
    for (size_t start = 0, end; start < help.size(); start = end + 1) {
        end = help.find('\n', start);
        lines.push_back(help.substr(start, (end == std::string::npos ? help.size() : end) - start));
        if (end == std::string::npos)
            break;
    }
    // Each alternative of a line ('|'-separated), as its words; remarks in parentheses dropped.
    auto alternatives = [](std::string text) {
        size_t cut = std::min(text.find('('), text.find("reply:"));
        if (cut != std::string::npos)
            text = text.substr(0, cut);
        std::vector<std::vector<std::string>> all(1);
        std::string word;
        for (char c : text + " ") {
            if (c == ' ' || c == '|') {
                if (!word.empty())
                    all.back().push_back(word);
                word.clear();
                if (c == '|')
                    all.emplace_back();
            } else {
                word += c;
            }
        }
        return all;
    };
    auto run = [](const std::string& command) {
        SimReset();
        SimAddDevice(SimKind::DriverUsb);
        std::string answer;
        SimRunCommand(command.c_str(), &answer);
        return answer;
    };
    std::string section; // "set" or "fault" while its continuation lines run
    int checked = 0;
    size_t first = 0;
    while (first < lines.size() && lines[first].rfind("  ", 0) != 0)
        ++first;
    for (size_t n = first; n < lines.size(); ++n) {
        auto alts = alternatives(lines[n]);
        if (alts.empty() || alts[0].empty()) { // a continuation line starts with '|'
            alts.erase(alts.begin());
        } else if (alts[0].size() >= 3 && alts[0][1] == "N" &&
                   (alts[0][0] == "set" || alts[0][0] == "fault")) {
            section = alts[0][0];
            alts[0].erase(alts[0].begin(), alts[0].begin() + 2);
        } else {
            section.clear();
        }
        for (const auto& words : alts) {
            if (words.empty())
                continue;
            if (!section.empty()) {
                std::string answer = run(section + " 1 " + words[0] + " 1");
                EXPECT_EQ(answer.find("unknown"), std::string::npos)
                    << section << " " << words[0] << ": " << answer;
            } else if (words[0] == "add" && words.size() > 1) {
                std::string kinds = words[1] + "/";
                for (size_t a = 0, b; (b = kinds.find('/', a)) != std::string::npos; a = b + 1)
                    EXPECT_EQ(run("add " + kinds.substr(a, b - a)).find("unknown"), std::string::npos)
                        << "add " << kinds.substr(a, b - a);
            } else if (words[0] != "quit" && words[0] != "sleep" && words[0] != "log") {
                EXPECT_NE(run(words[0]).rfind("unknown command: ", 0), 0u) << words[0];
            }
            ++checked;
        }
    }
    EXPECT_GT(checked, 50) << "the help lists the set fields and faults";
}
