// The lexer: identifiers, numbers (digits, dots, letters and dashes, so that
// GUIDs and versions are single tokens), strings, punctuation, comments.
#include "lexer.h"

namespace tlbc {
namespace {

bool IsIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsIdentChar(char c) { return IsIdentStart(c) || IsDigit(c); }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

}  // namespace

bool Tokenize(const std::string& s, std::vector<Token>& out, std::string& error, Location& errorAt) {
  std::size_t i = 0;
  Location at;
  auto advance = [&](std::size_t n) {
    for (std::size_t k = 0; k < n && i < s.size(); ++k, ++i) {
      if (s[i] == '\n') {
        ++at.line;
        at.column = 1;
      } else {
        ++at.column;
      }
    }
  };
  while (i < s.size()) {
    char c = s[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f') {
      advance(1);
      continue;
    }
    if (c == '/' && i + 1 < s.size() && s[i + 1] == '/') {
      while (i < s.size() && s[i] != '\n') advance(1);
      continue;
    }
    if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
      Location start = at;
      advance(2);
      while (i < s.size() && !(s[i] == '*' && i + 1 < s.size() && s[i + 1] == '/')) advance(1);
      if (i >= s.size()) {
        error = "unterminated comment";
        errorAt = start;
        return false;
      }
      advance(2);
      continue;
    }
    Token t;
    t.at = at;
    if (IsHexDigit(c) && !IsIdentStart(c)) {
      // Numbers; a GUID starts with a digit or a hex letter and is read by the parser from raw tokens.
      std::size_t j = i;
      while (j < s.size() && (IsIdentChar(s[j]) || s[j] == '.' || s[j] == '-')) ++j;
      t.kind = Token::Number;
      t.text = s.substr(i, j - i);
      advance(j - i);
    } else if (IsIdentStart(c)) {
      std::size_t j = i;
      while (j < s.size() && (IsIdentChar(s[j]) || s[j] == '-')) ++j;
      // A dash continues a token only inside a GUID (hex groups); identifiers never hold one.
      std::string word = s.substr(i, j - i);
      if (word.find('-') != std::string::npos) {
        t.kind = Token::Number;
      } else {
        t.kind = Token::Identifier;
      }
      t.text = word;
      advance(j - i);
    } else if (c == '"') {
      advance(1);
      std::string value;
      while (true) {
        if (i >= s.size() || s[i] == '\n') {
          error = "unterminated string";
          errorAt = t.at;
          return false;
        }
        if (s[i] == '"') {
          advance(1);
          break;
        }
        if (s[i] == '\\' && i + 1 < s.size()) {
          char e = s[i + 1];
          if (e != '"' && e != '\\') {
            error = std::string("unknown escape '\\") + e + "' in string";
            errorAt = at;
            return false;
          }
          value.push_back(e);
          advance(2);
          continue;
        }
        value.push_back(s[i]);
        advance(1);
      }
      t.kind = Token::String;
      t.text = value;
    } else if (std::string("[](){};,:*=").find(c) != std::string::npos) {
      t.kind = Token::Punct;
      t.text = std::string(1, c);
      advance(1);
    } else {
      error = std::string("unexpected character '") + c + "'";
      errorAt = at;
      return false;
    }
    out.push_back(t);
  }
  Token end;
  end.at = at;
  out.push_back(end);
  return true;
}

}  // namespace tlbc
