#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace cuserver {

// The statement with each `?` placeholder (one outside quoted texts, quoted
// names and comments) numbered in a driver's style: `prefix` and its number
// from 1 ("?1" for SQLite, "$1" for libpq, ":p1" for SOCI). Throws
// DatabaseError when the statement has not one placeholder per text.
std::string NumberedPlaceholders(std::string_view statement, std::string_view prefix, std::size_t texts);

// Throws DatabaseError (RowRefused) when a text holds a NUL byte: the
// backend (named in the message) cannot hold one, or its driver would end
// the text there.
void RequireNoNulByte(const std::vector<std::string>& texts, std::string_view backend);

}  // namespace cuserver
