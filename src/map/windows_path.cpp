#include "map/windows_path.hpp"

#include <string>
#include <vector>

namespace cuserver {
namespace {

std::vector<std::string> Parts(std::string_view path) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : path) {
    if (c == '\\' || c == '/') {
      if (!part.empty()) parts.push_back(std::move(part));
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(std::move(part));
  return parts;
}

std::optional<std::filesystem::path> FindPart(const std::filesystem::path& folder, const std::string& part) {
  std::error_code error;
  if (part == "." || part == "..") return folder / part;
  if (std::filesystem::exists(folder / part, error)) return folder / part;
  // Several names may differ from the part only in case; the first in byte
  // order is taken, so the answer does not depend on the directory's order.
  const std::string wanted = FoldCase(part);
  std::optional<std::string> best;
  std::filesystem::directory_iterator entries(folder.empty() ? std::filesystem::path(".") : folder, error);
  if (error) return std::nullopt;
  for (const auto& entry : entries) {
    std::string name = entry.path().filename().string();
    if (FoldCase(name) == wanted && (!best || name < *best)) best = std::move(name);
  }
  if (!best) return std::nullopt;
  return folder / *best;
}

}  // namespace

std::string FoldCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::optional<std::filesystem::path> FindLikeWindows(const std::filesystem::path& base,
                                                     std::string_view path) {
  const bool absolute = !path.empty() && (path.front() == '/' || path.front() == '\\');
  std::filesystem::path found = absolute ? std::filesystem::path("/") : base;
  const auto parts = Parts(path);
  if (parts.empty()) return std::nullopt;
  for (const auto& part : parts) {
    auto next = FindPart(found, part);
    if (!next) return std::nullopt;
    found = std::move(*next);
  }
  return found;
}

}  // namespace cuserver
