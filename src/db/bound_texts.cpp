#include "db/bound_texts.hpp"

#include <fmt/format.h>

#include <algorithm>

#include "db/session.hpp"

namespace cuserver {

std::string NumberedPlaceholders(std::string_view statement, std::string_view prefix, std::size_t texts) {
  std::string numbered;
  numbered.reserve(statement.size() + texts * (prefix.size() + 2));
  std::size_t count = 0;
  for (std::size_t i = 0; i < statement.size(); ++i) {
    const char c = statement[i];
    std::size_t end = std::string_view::npos;
    if (c == '\'' || c == '"' || c == '`') {
      end = statement.find(c, i + 1);  // a doubled quote closes and opens again
    } else if (c == '-' && i + 1 < statement.size() && statement[i + 1] == '-') {
      end = statement.find('\n', i);
    } else if (c == '/' && i + 1 < statement.size() && statement[i + 1] == '*') {
      end = statement.find("*/", i + 2);
      if (end != std::string_view::npos) ++end;
    } else if (c == '?') {
      fmt::format_to(std::back_inserter(numbered), "{}{}", prefix, ++count);
      continue;
    } else {
      numbered += c;
      continue;
    }
    if (end == std::string_view::npos) end = statement.size() - 1;
    numbered.append(statement.substr(i, end - i + 1));
    i = end;
  }
  if (count != texts) {
    throw DatabaseError(fmt::format("the statement has {} placeholder(s) for {} bound text(s): {}", count, texts,
                                    std::string(statement)));
  }
  return numbered;
}

void RequireNoNulByte(const std::vector<std::string>& texts, std::string_view backend) {
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (texts[i].find('\0') != std::string::npos) {
      throw DatabaseError(fmt::format("{} cannot take bound text {}: it holds a NUL byte", backend, i + 1),
                          std::nullopt, DatabaseErrorKind::RowRefused);
    }
  }
}

}  // namespace cuserver
