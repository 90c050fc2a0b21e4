#include "common/model_path.h"

#include <vector>

namespace velmora_corvane_tts {

std::string join_model_path(std::string_view dir, std::string_view file) {
  std::string path;
  path.reserve(dir.size() + 1 + file.size());
  path.append(dir);
  if (!dir.empty() && dir.back() != '/') path.push_back('/');
  path.append(file);
  return path;
}

namespace {

std::vector<std::string_view> components(std::string_view dir) {
  std::vector<std::string_view> out;
  if (!dir.empty() && dir.front() == '/') out.emplace_back("/");
  size_t pos = 0;
  bool first_piece = true;
  while (pos <= dir.size()) {
    size_t slash = dir.find('/', pos);
    if (slash == std::string_view::npos) slash = dir.size();
    std::string_view piece = dir.substr(pos, slash - pos);
    if (!piece.empty()) {
      bool leading_dot = piece == "." && first_piece && dir.front() != '/';
      if (piece != "." || leading_dot) out.push_back(piece);
    }
    first_piece = false;
    pos = slash + 1;
  }
  return out;
}

}  // namespace

bool same_model_dir(std::string_view a, std::string_view b) {
  if (a == b) return true;
  std::vector<std::string_view> ca = components(a);
  std::vector<std::string_view> cb = components(b);
  if (ca.size() != cb.size()) return false;
  // Directories usually differ near their ends; compare from the last.
  for (size_t i = ca.size(); i-- > 0;) {
    if (ca[i] != cb[i]) return false;
  }
  return true;
}

}  // namespace velmora_corvane_tts
