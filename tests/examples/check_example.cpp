// Checks one example program of examples/ against the README:
//   check_example <README.md> <examples/name.cpp> <built example>
// The README must show the source whole, in the ```cpp block after the line
// "<!-- example: examples/name.cpp -->", and the program, run, must print
// one line for each line of the source that writes to std::cout with a
// comment: the comment's text up to its first ": ", if any. So
//   std::cout << a * b << '\n';  // -408: the signs differ
// expects the line "-408". Exit status 0 when all agree; otherwise the
// differences are printed.
#include <array>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw std::runtime_error("cannot read " + path);
  }
  return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

// The ```cpp block that follows the marker naming `name`, or "" for none.
std::string readme_block(const std::string& readme, const std::string& name) {
  const std::string marker = "<!-- example: " + name + " -->\n```cpp\n";
  const std::size_t at = readme.find(marker);
  if (at == std::string::npos) {
    return "";
  }
  const std::size_t from = at + marker.size();
  const std::size_t to = readme.find("```\n", from);
  return to == std::string::npos ? "" : readme.substr(from, to - from);
}

// The lines the source's comments say the program prints.
std::vector<std::string> expected_lines(const std::string& source) {
  std::vector<std::string> expected;
  for (const std::string& line : lines_of(source)) {
    const std::size_t comment = line.find("// ");
    if (line.find("std::cout") == std::string::npos || comment == std::string::npos) {
      continue;
    }
    const std::string text = line.substr(comment + 3);
    expected.push_back(text.substr(0, text.find(": ")));
  }
  return expected;
}

std::string output_of(const std::string& program) {
  const std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(("'" + program + "'").c_str(), "r"), pclose);
  if (!pipe) {
    throw std::runtime_error("cannot run " + program);
  }
  std::string output;
  std::array<char, 4096> buffer{};
  for (std::size_t got; (got = std::fread(buffer.data(), 1, buffer.size(), pipe.get())) > 0;) {
    output.append(buffer.data(), got);
  }
  return output;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: check_example <README.md> <examples/name.cpp> <built example>\n";
    return 2;
  }
  const std::string path = argv[2];
  const std::string name = path.substr(path.rfind("examples/"));
  const std::string source = read_file(path);
  int failures = 0;
  if (readme_block(read_file(argv[1]), name) != source) {
    std::cout << "README.md does not show " << name << " as it is, after <!-- example: " << name << " -->\n";
    ++failures;
  }
  const std::vector<std::string> expected = expected_lines(source);
  const std::vector<std::string> printed = lines_of(output_of(argv[3]));
  for (std::size_t i = 0; i < std::max(expected.size(), printed.size()); ++i) {
    const std::string want = i < expected.size() ? expected[i] : "(nothing)";
    const std::string got = i < printed.size() ? printed[i] : "(nothing)";
    if (want != got) {
      std::cout << name << ", printed line " << i + 1 << ": the comment says '" << want << "', the program printed '"
                << got << "'\n";
      ++failures;
    }
  }
  std::cout << name << ": " << expected.size() << " printed lines checked, " << failures << " differences\n";
  return failures == 0 ? 0 : 1;
}
