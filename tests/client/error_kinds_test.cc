#include "client/error_kinds.h"

#include <set>
#include <string>

#include <gtest/gtest.h>

namespace velmora_corvane {
namespace {

TEST(ErrorKinds, RealTextsGetTheirKindAndOthersAreUnknown) {
  const struct {
    std::string message;
    ErrorKind kind;
  } cases[] = {
      {"Invalid request frame length: 0", ErrorKind::kInvalidRequest},
      {"Local speech is limited to 10000 characters per response", ErrorKind::kTextTooLong},
      {"Could not load the local speech model from ", ErrorKind::kModelLoadFailed},  // empty hole
      {"Could not load the local speech model from /m is missing from x",
       ErrorKind::kModelLoadFailed},  // the prefix row wins over "{} is missing from {}"
      {"tokens.txt is missing from /models/a", ErrorKind::kModelLoadFailed},
      {"Unknown request tag 9", ErrorKind::kInvalidRequest},
      {"No speech model is loaded", ErrorKind::kNoModelLoaded},
      // Near misses: a piece changed, added to or cut.
      {"Speech text is empty!", ErrorKind::kUnknown},
      {"Local speech is limited to 10000 characters", ErrorKind::kUnknown},
      {"xInvalid request frame length: 0", ErrorKind::kUnknown},
      {"tokens.txt is absent from /m", ErrorKind::kUnknown},
      {"", ErrorKind::kUnknown},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(error_kind_name(error_kind_of_message(c.message)), error_kind_name(c.kind))
        << c.message;
  }
}

TEST(ErrorKinds, EveryRowMatchesItsOwnPatternAndNamesAreDistinct) {
  for (const MessageKind& row : message_kinds()) {
    // A pattern is a message whose holes were left empty.
    std::string filled(row.pattern);
    for (size_t at; (at = filled.find("{}")) != std::string::npos;) filled.replace(at, 2, "7");
    EXPECT_EQ(error_kind_of_message(filled), row.kind) << row.pattern;
  }
  std::set<std::string_view> names;
  for (int k = 0; k <= static_cast<int>(ErrorKind::kHelperUnavailable); ++k) {
    names.insert(error_kind_name(static_cast<ErrorKind>(k)));
  }
  EXPECT_EQ(names.size(), static_cast<size_t>(ErrorKind::kHelperUnavailable) + 1);
}

}  // namespace
}  // namespace velmora_corvane
