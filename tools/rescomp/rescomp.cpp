// quib_rescomp: the resource compiler. Reads a resource manifest and writes a
// C++ source that places the resources, in the resource-section format of
// docs/resources.md, into the ".quibrsrc" section of the library it is built
// into.
//
//   quib_rescomp --manifest FILE --output FILE [--add "TYPE ID LANGUAGE FILE [ENCODING]"]...
//
// Manifest lines: TYPE ID LANGUAGE FILE [ENCODING]; '#' starts a comment.
// TYPE is a name ("REGISTRY") or a number (16); ID and LANGUAGE are numbers;
// FILE is relative to the manifest's folder. ENCODING "version" encodes a
// version text (KEY = VALUE lines) as a version resource; without it the
// file's bytes are stored as they are.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

struct Failure {
  std::string message;
};

struct Resource {
  std::string typeName;  // empty for a numeric type
  std::uint16_t typeId = 0;
  std::uint16_t id = 0;
  std::uint16_t language = 0;
  std::string data;
  std::string origin;  // where it was declared, for messages
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Failure{"cannot read " + path};
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::uint16_t Number(const std::string& text, const std::string& what, unsigned low, const std::string& origin) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
    throw Failure{origin + ": " + what + " '" + text + "' is not a number"};
  unsigned long v = std::stoul(text);
  if (v < low || v > 0xFFFF) throw Failure{origin + ": " + what + " " + text + " is out of range"};
  return static_cast<std::uint16_t>(v);
}

void Put16(std::string& out, std::uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
void PutAscii16(std::string& out, const std::string& text) {
  for (char c : text) Put16(out, static_cast<unsigned char>(c));
}

std::string Trim(const std::string& s) {
  std::size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return {};
  std::size_t b = s.find_last_not_of(" \t\r");
  return s.substr(a, b - a + 1);
}

// Four numbers "a.b.c.d".
void ParseQuad(const std::string& text, std::uint16_t quad[4], const std::string& origin) {
  std::stringstream in(text);
  std::string part;
  int n = 0;
  while (std::getline(in, part, '.')) {
    if (n == 4) throw Failure{origin + ": version '" + text + "' has more than four parts"};
    quad[n++] = Number(part, "version part", 0, origin);
  }
  if (n != 4) throw Failure{origin + ": version '" + text + "' needs four parts"};
}

// The version resource: "QVER", format 1, the string count, the file and
// product versions as four 16-bit numbers each, then the strings.
std::string EncodeVersion(const std::string& text, const std::string& origin) {
  std::uint16_t file[4] = {}, product[4] = {};
  bool haveFile = false, haveProduct = false;
  std::vector<std::pair<std::string, std::string>> strings;
  std::stringstream in(text);
  std::string line;
  int lineNumber = 0;
  while (std::getline(in, line)) {
    ++lineNumber;
    std::string where = origin + ":" + std::to_string(lineNumber);
    line = Trim(line);
    if (line.empty() || line[0] == '#') continue;
    std::size_t eq = line.find('=');
    if (eq == std::string::npos) throw Failure{where + ": expected KEY = VALUE"};
    std::string key = Trim(line.substr(0, eq)), value = Trim(line.substr(eq + 1));
    for (char c : key + value)
      if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
        throw Failure{where + ": only printable ASCII is allowed"};
    if (key.empty() || key.size() > 255 || value.size() > 1023) throw Failure{where + ": key or value too long"};
    if (key == "FileVersion") ParseQuad(value, file, where), haveFile = true;
    if (key == "ProductVersion") ParseQuad(value, product, where), haveProduct = true;
    for (const auto& s : strings)
      if (s.first == key) throw Failure{where + ": " + key + " given twice"};
    strings.emplace_back(key, value);
  }
  if (!haveFile || !haveProduct) throw Failure{origin + ": FileVersion and ProductVersion are required"};
  std::string out = "QVER";
  Put16(out, 1);
  Put16(out, static_cast<std::uint32_t>(strings.size()));
  for (std::uint16_t v : file) Put16(out, v);
  for (std::uint16_t v : product) Put16(out, v);
  for (const auto& [key, value] : strings) {
    Put16(out, static_cast<std::uint32_t>(key.size()));
    Put16(out, static_cast<std::uint32_t>(value.size()));
    PutAscii16(out, key);
    PutAscii16(out, value);
  }
  return out;
}

std::string Folder(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

Resource ParseLine(const std::string& line, const std::string& base, const std::string& origin) {
  std::stringstream in(line);
  std::string type, id, language, file, encoding, extra;
  in >> type >> id >> language >> file >> encoding >> extra;
  if (file.empty() || !extra.empty()) throw Failure{origin + ": expected TYPE ID LANGUAGE FILE [ENCODING]"};
  Resource r;
  r.origin = origin;
  if (type.find_first_not_of("0123456789") == std::string::npos) {
    r.typeId = Number(type, "type", 1, origin);
  } else {
    if (type.size() > 255 || type.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_") !=
                                 std::string::npos)
      throw Failure{origin + ": type name '" + type + "' must be letters, digits and '_'"};
    r.typeName = type;
  }
  r.id = Number(id, "id", 1, origin);
  r.language = Number(language, "language", 0, origin);
  std::string path = file[0] == '/' ? file : base + "/" + file;
  std::string bytes = ReadFile(path);
  if (encoding.empty())
    r.data = bytes;
  else if (encoding == "version")
    r.data = EncodeVersion(bytes, path);
  else
    throw Failure{origin + ": unknown encoding '" + encoding + "'"};
  if (r.data.size() > 0x40000000) throw Failure{origin + ": " + path + " is too large"};
  return r;
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return s;
}

void Align(std::string& out, std::size_t to) {
  while (out.size() % to) out += '\0';
}

// Header, entry table, type names, data (each 8-aligned); all little-endian.
std::string BuildSection(const std::vector<Resource>& resources) {
  constexpr std::size_t kHeader = 16, kEntry = 24;
  std::string names, data;
  std::vector<std::uint32_t> nameOffsets, dataOffsets;
  std::size_t namesAt = kHeader + kEntry * resources.size();
  for (const Resource& r : resources) {
    nameOffsets.push_back(r.typeName.empty() ? 0 : static_cast<std::uint32_t>(namesAt + names.size()));
    if (!r.typeName.empty()) {
      PutAscii16(names, r.typeName);
      Put16(names, 0);
    }
  }
  std::string head(namesAt, '\0');
  std::string body = names;
  std::string section = head + body;
  Align(section, 8);
  for (const Resource& r : resources) {
    dataOffsets.push_back(static_cast<std::uint32_t>(section.size()));
    section += r.data;
    Align(section, 8);
  }
  if (section.size() > 0xFFFFFFFFu) throw Failure{"the resources do not fit in 4 GiB"};
  std::string header = "QRSC";
  Put16(header, 1);
  Put16(header, kHeader);
  Put32(header, static_cast<std::uint32_t>(resources.size()));
  Put32(header, static_cast<std::uint32_t>(section.size()));
  for (std::size_t i = 0; i < resources.size(); ++i) {
    const Resource& r = resources[i];
    Put16(header, static_cast<std::uint32_t>(r.typeName.size()));
    Put16(header, r.typeId);
    Put16(header, r.id);
    Put16(header, r.language);
    Put32(header, nameOffsets[i]);
    Put32(header, dataOffsets[i]);
    Put32(header, static_cast<std::uint32_t>(r.data.size()));
    Put32(header, 0);
  }
  section.replace(0, header.size(), header);
  return section;
}

std::string Source(const std::string& section, const std::string& manifest) {
  std::string out;
  out += "// Generated by quib_rescomp from " + manifest + ". Do not edit.\n";
  out += "// The library's resources, in the section the platform's resource services read.\n\n";
  out += "namespace {\n\n";
  out += "__attribute__((section(\".quibrsrc\"), used, aligned(8)))\n";
  out += "const unsigned char kResourceSection[" + std::to_string(section.size()) + "] = {";
  char byte[8];
  for (std::size_t i = 0; i < section.size(); ++i) {
    if (i % 16 == 0) out += "\n   ";
    std::snprintf(byte, sizeof byte, " 0x%02x,", static_cast<unsigned char>(section[i]));
    out += byte;
  }
  out += "\n};\n\n}  // namespace\n";
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    std::string manifest, output;
    std::vector<std::string> adds;
    for (int i = 1; i < argc; ++i) {
      std::string arg = argv[i];
      if (i + 1 >= argc) throw Failure{"missing value after " + arg};
      if (arg == "--manifest")
        manifest = argv[++i];
      else if (arg == "--output")
        output = argv[++i];
      else if (arg == "--add")
        adds.push_back(argv[++i]);
      else
        throw Failure{"unknown argument " + arg};
    }
    if (manifest.empty() || output.empty()) throw Failure{"usage: quib_rescomp --manifest FILE --output FILE"};

    std::vector<Resource> resources;
    std::stringstream lines(ReadFile(manifest));
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
      std::size_t hash = line.find('#');
      if (hash != std::string::npos) line.erase(hash);
      if (Trim(line).empty()) continue;
      resources.push_back(ParseLine(line, Folder(manifest), manifest + ":" + std::to_string(number)));
    }
    for (const std::string& add : adds) resources.push_back(ParseLine(add, ".", "--add '" + add + "'"));

    std::set<std::tuple<std::string, unsigned, unsigned, unsigned>> seen;
    for (const Resource& r : resources)
      if (!seen.insert({Upper(r.typeName), r.typeId, r.id, r.language}).second)
        throw Failure{r.origin + ": the same type, id and language are given twice"};

    std::string source = Source(BuildSection(resources), manifest.substr(manifest.rfind('/') + 1));
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out << source;
    if (!out.flush()) throw Failure{"cannot write " + output};
    return 0;
  } catch (const Failure& f) {
    std::fprintf(stderr, "quib_rescomp: %s\n", f.message.c_str());
    return 1;
  }
}
