// Tokens of the interface definition language.
#pragma once

#include <string>
#include <vector>

namespace tlbc {

struct Location {
  int line = 1, column = 1;
};

struct Token {
  enum Kind { End, Identifier, Number, String, Punct } kind = End;
  std::string text;  // identifier, number or punctuation text; string contents unescaped
  Location at;
};

// Splits source into tokens; on a lexical error fills error and errorAt.
bool Tokenize(const std::string& source, std::vector<Token>& out, std::string& error, Location& errorAt);

}  // namespace tlbc
