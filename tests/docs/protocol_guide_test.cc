// Keeps docs/protocol.md true to the helper: its hex examples are run against
// the built helper and must give the replies they show, and its message
// tables must list every message the sources can send, with the kind the
// client library gives it.
#include <cctype>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "client/error_kinds.h"
#include "support/stream_test_util.h"
#include "support/child_process.h"

namespace velmora_corvane_tts::testing {
namespace {

namespace fs = std::filesystem;

// Every message a reply can carry, with the name of its error kind: the
// client library's table. `{}` is a value filled in.
std::map<std::string, std::string> reply_messages() {
  std::map<std::string, std::string> out;
  for (const velmora_corvane::MessageKind& row : velmora_corvane::message_kinds()) {
    out.emplace(row.pattern, velmora_corvane::error_kind_name(row.kind));
  }
  return out;
}
const std::map<std::string, std::string> kReplyMessages = reply_messages();

// The fatal lines (after "Corvane voice helper: "), listed without a kind.
const std::set<std::string> kFatalLines = {
    "Could not read request header: {}", "Could not read request: {}",
    "Could not write response: {}",      "Could not read a request frame: {}",
    "Could not write a reply frame: {}",
};

// Other texts the guide quotes: the fatal line's prefix and the one detail
// of a fatal line that is a sentence of ours.
const std::set<std::string> kOtherTexts = {
    "Corvane voice helper: {}",
    "frame payload of {} bytes exceeds the {} byte limit",
};

std::string guide() { return read_file(source_dir() + "/docs/protocol.md"); }

// The pieces of a message around its `{}` holes, without empty ones.
std::vector<std::string> pieces(const std::string& message) {
  std::vector<std::string> out;
  size_t from = 0;
  for (size_t hole; (hole = message.find("{}", from)) != std::string::npos; from = hole + 2) {
    if (hole > from) out.push_back(message.substr(from, hole - from));
  }
  if (from < message.size()) out.push_back(message.substr(from));
  return out;
}

// ---------------------------------------------------------------------------
// The hex examples.

// Expected bytes: literal runs, and runs left out ("...").
struct Piece {
  bool any = false;
  std::string bytes;
};
using Pattern = std::vector<Piece>;

bool matches(const Pattern& p, size_t i, std::string_view s) {
  if (i == p.size()) return s.empty();
  if (!p[i].any) {
    return s.substr(0, p[i].bytes.size()) == p[i].bytes &&
           matches(p, i + 1, s.substr(p[i].bytes.size()));
  }
  for (size_t skip = 0; skip <= s.size(); ++skip) {
    if (matches(p, i + 1, s.substr(skip))) return true;
  }
  return false;
}

void append(Pattern& p, const Piece& piece) {
  if (!p.empty() && !p.back().any && !piece.any) {
    p.back().bytes += piece.bytes;
  } else if (piece.any || !piece.bytes.empty()) {
    p.push_back(piece);
  }
}

// One line of bytes in the guide's notation: hex pairs, 'text', ( ... )×N,
// "..." and a "#" comment. Fails the test on anything else.
Pattern parse_bytes(const std::string& line) {
  std::vector<Pattern> groups(1);
  size_t i = 0;
  auto fail = [&](const std::string& why) {
    ADD_FAILURE() << why << " at column " << i << " of: " << line;
    return Pattern{};
  };
  while (i < line.size()) {
    char c = line[i];
    if (c == ' ') {
      ++i;
    } else if (c == '#') {
      break;
    } else if (c == '\'') {
      size_t end = line.find('\'', i + 1);
      if (end == std::string::npos) return fail("unterminated text");
      append(groups.back(), {false, line.substr(i + 1, end - i - 1)});
      i = end + 1;
    } else if (c == '(') {
      groups.emplace_back();
      ++i;
    } else if (c == ')') {
      const std::string times = "\xC3\x97";  // ×
      if (groups.size() < 2 || line.compare(i + 1, times.size(), times) != 0) {
        return fail("unbalanced group");
      }
      i += 1 + times.size();
      size_t digits = 0;
      int n = std::stoi(line.substr(i), &digits);
      i += digits;
      Pattern group = std::move(groups.back());
      groups.pop_back();
      for (int k = 0; k < n; ++k) {
        for (const Piece& piece : group) append(groups.back(), piece);
      }
    } else if (line.compare(i, 3, "...") == 0) {
      append(groups.back(), {true, ""});
      i += 3;
    } else if (i + 1 < line.size() && std::isxdigit(static_cast<unsigned char>(c)) &&
               std::isxdigit(static_cast<unsigned char>(line[i + 1]))) {
      append(groups.back(), {false, std::string(1, static_cast<char>(
                                                       std::stoi(line.substr(i, 2), nullptr, 16)))});
      i += 2;
    } else {
      return fail("not a byte");
    }
  }
  if (groups.size() != 1) return fail("unbalanced group");
  return groups[0];
}

// A request and the replies it makes the helper send.
struct Step {
  std::string request;
  Pattern replies;
};

struct Example {
  std::string title;  // the command line and first request, for messages
  std::vector<std::string> args;
  std::vector<Step> steps;
  int exit_code = 0;
  std::string stderr_line;
};

std::vector<Example> examples(const std::string& text) {
  std::vector<Example> found;
  std::istringstream lines(text);
  std::string line;
  bool in_fence = false;
  Example* current = nullptr;
  while (std::getline(lines, line)) {
    if (line.rfind("```", 0) == 0) {
      in_fence = !in_fence;
      current = nullptr;
      continue;
    }
    if (!in_fence) continue;
    if (line.rfind("$ velmora-corvane-tts", 0) == 0) {
      current = &found.emplace_back();
      current->title = line;
      std::istringstream words(line.substr(21));
      for (std::string w; words >> w;) current->args.push_back(w);
      continue;
    }
    size_t first = line.find_first_not_of(' ');
    if (current == nullptr || first == std::string::npos || line[first] == '#') continue;
    if (line.rfind("> ", 0) == 0) {
      Pattern bytes = parse_bytes(line.substr(2));
      if (current->steps.empty() || !current->steps.back().replies.empty()) {
        current->steps.emplace_back();
      }
      for (const Piece& piece : bytes) {
        EXPECT_FALSE(piece.any) << "a request cannot leave bytes out: " << line;
        current->steps.back().request += piece.bytes;
      }
    } else if (line.rfind("< ", 0) == 0) {
      EXPECT_FALSE(current->steps.empty()) << "a reply before any request: " << line;
      if (current->steps.empty()) continue;
      for (const Piece& piece : parse_bytes(line.substr(2))) {
        append(current->steps.back().replies, piece);
      }
    } else if (line.rfind("exit ", 0) == 0) {
      current->exit_code = std::stoi(line.substr(5));
    } else if (line.rfind("stderr '", 0) == 0) {
      current->stderr_line = line.substr(8, line.rfind('\'') - 8) + "\n";
    } else {
      ADD_FAILURE() << "not a line of an example: " << line;
    }
  }
  return found;
}

TEST(ProtocolGuide, ExamplesAreWhatTheHelperReadsAndWrites) {
  std::vector<Example> all = examples(guide());
  // Both modes, success and error replies, and both fatal ends.
  ASSERT_GE(all.size(), 8u);

  TempDir work;
  make_tts_model("kokoro", work.path() + "/kokoro");
  make_stream_model(work.path() + "/stream");
  ChildOptions in_work;
  in_work.working_dir = work.path();

  for (const Example& example : all) {
    SCOPED_TRACE(example.title);
    ASSERT_FALSE(example.steps.empty());
    // The input cut after each request gives exactly the replies shown up
    // to there: each reply is shown after the request that makes it.
    std::string input;
    Pattern expected;
    for (size_t k = 0; k < example.steps.size(); ++k) {
      input += example.steps[k].request;
      for (const Piece& piece : example.steps[k].replies) append(expected, piece);
      std::vector<std::string> argv = {helper_path()};
      argv.insert(argv.end(), example.args.begin(), example.args.end());
      ChildResult r = run_child(argv, input, in_work);
      bool last = k + 1 == example.steps.size();
      EXPECT_TRUE(matches(expected, 0, r.out))
          << "after request " << k + 1 << " the helper wrote " << r.out.size() << " bytes: "
          << ::testing::PrintToString(r.out.substr(0, 200));
      EXPECT_EQ(r.exit_code, last ? example.exit_code : 0) << "after request " << k + 1;
      EXPECT_EQ(r.err, last ? example.stderr_line : "") << "after request " << k + 1;
    }
  }
}

// ---------------------------------------------------------------------------
// The message tables.

// Message -> kind ("" for none) of every table row whose first cell is a
// quoted message.
std::map<std::string, std::string> guide_table() {
  std::map<std::string, std::string> rows;
  std::istringstream lines(guide());
  const std::regex row(R"re(^\| "([^"]*)" \|(.*)$)re");
  const std::regex kind("`(k[A-Z][A-Za-z]*)`");
  std::string line;
  while (std::getline(lines, line)) {
    std::smatch m;
    if (!std::regex_match(line, m, row)) continue;
    std::smatch k;
    std::string rest = m[2];
    std::string found = std::regex_search(rest, k, kind) ? k[1].str() : "";
    EXPECT_TRUE(rows.emplace(m[1], found).second) << "listed twice: " << m[1];
  }
  return rows;
}

TEST(ProtocolGuide, TablesListEveryMessageWithItsKind) {
  std::map<std::string, std::string> expected = kReplyMessages;
  for (const std::string& line : kFatalLines) expected.emplace(line, "");
  EXPECT_EQ(guide_table(), expected);
  std::string text = guide();
  for (const std::string& other : kOtherTexts) {
    for (const std::string& piece : pieces(other)) {
      EXPECT_NE(text.find(piece), std::string::npos) << "the guide does not quote: " << piece;
    }
  }
}

// String literals of a C++ source, comments and character literals skipped.
std::vector<std::string> string_literals(const std::string& code) {
  std::vector<std::string> found;
  for (size_t i = 0; i < code.size(); ++i) {
    if (code.compare(i, 2, "//") == 0) {
      i = code.find('\n', i);
      if (i == std::string::npos) break;
    } else if (code.compare(i, 2, "/*") == 0) {
      i = code.find("*/", i + 2);
      if (i == std::string::npos) break;
      ++i;
    } else if (code[i] == '"' || code[i] == '\'') {
      char quote = code[i];
      std::string literal;
      for (++i; i < code.size() && code[i] != quote; ++i) {
        if (code[i] == '\\') ++i;
        literal += code[i];
      }
      if (quote == '"') found.push_back(literal);
    }
  }
  return found;
}

TEST(ProtocolGuide, EveryMessageInTheSourcesIsListed) {
  // Texts of the helper's own sentences: the texts that make up a reply
  // message or a fatal line. Not scanned: the operating system's and the
  // JSON parser's descriptions (details inside "{}"), the smoke test's
  // report, and the client library's and the tools' own texts (the client
  // library's table of the helper's messages is checked above).
  std::set<std::string> literals;
  std::set<std::string> sentences;
  const std::regex sentence("^([A-Z][a-z]* | [a-z]+ )[a-z].*");
  for (const auto& entry : fs::recursive_directory_iterator(source_dir() + "/src")) {
    std::string path = entry.path().string();
    std::string ext = entry.path().extension().string();
    if (ext != ".cc" && ext != ".h" && ext != ".cpp") continue;
    if (path.find("/platform/") != std::string::npos ||
        path.find("json_record") != std::string::npos || path.find("smoke") != std::string::npos ||
        path.find("/client/") != std::string::npos || path.find("/tools/") != std::string::npos) {
      continue;
    }
    for (const std::string& literal : string_literals(read_file(path))) {
      literals.insert(literal);
      if (std::regex_match(literal, sentence)) sentences.insert(literal);
    }
  }

  std::set<std::string> known;
  std::set<std::string> all_texts = kFatalLines;
  all_texts.insert(kOtherTexts.begin(), kOtherTexts.end());
  for (const auto& [message, kind] : kReplyMessages) all_texts.insert(message);
  for (const std::string& text : all_texts) {
    for (const std::string& piece : pieces(text)) {
      known.insert(piece);
      // A listed message the sources no longer send.
      EXPECT_TRUE(literals.count(piece))
          << "no source sends: \"" << piece << "\"";
    }
  }
  for (const std::string& s : sentences) {
    EXPECT_TRUE(known.count(s)) << "\"" << s << "\" is in src/ but not in docs/protocol.md's "
                                << "tables (and this test's lists)";
  }
}

}  // namespace
}  // namespace velmora_corvane_tts::testing
