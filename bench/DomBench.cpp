// The second reference of the XML benchmark: a native DOM library (pugixml, from Debian's packages) loads
// the same file from memory into its document, which is destroyed inside the timed region, as ours is.
// Its default parse options: references decoded, line breaks normalised, attribute values converted.
// Prints the best of several runs in MB/s and what the tree holds.
#include <pugixml.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

void Count(const pugi::xml_node& top, unsigned long* elements, unsigned long* attributes) {
  // Iterative pre-order walk: the document may be deeper than the stack allows recursion for.
  pugi::xml_node node = top.first_child();
  while (node) {
    if (node.type() == pugi::node_element) {
      ++*elements;
      for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) ++*attributes;
    }
    if (node.first_child()) {
      node = node.first_child();
      continue;
    }
    while (node && !node.next_sibling() && node != top) node = node.parent();
    if (!node || node == top) break;
    node = node.next_sibling();
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s file [iterations]\n", argv[0]);
    return 2;
  }
  const int iterations = argc > 2 ? std::atoi(argv[2]) : 10;
  std::FILE* f = std::fopen(argv[1], "rb");
  if (!f) return 1;
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::fseek(f, 0, SEEK_SET);
  std::vector<char> data(static_cast<size_t>(size));
  if (std::fread(data.data(), 1, data.size(), f) != data.size()) return 1;
  std::fclose(f);

  unsigned long elements = 0, attributes = 0;
  {
    // One untimed load for what the tree holds.
    pugi::xml_document document;
    if (document.load_buffer(data.data(), data.size(), pugi::parse_default, pugi::encoding_utf8)) {
      Count(document, &elements, &attributes);
    }
  }
  double best = 1e30;
  for (int i = 0; i < iterations; ++i) {
    const auto start = std::chrono::steady_clock::now();
    {
      pugi::xml_document document;
      const pugi::xml_parse_result result =
          document.load_buffer(data.data(), data.size(), pugi::parse_default, pugi::encoding_utf8);
      if (!result) {
        std::fprintf(stderr, "pugixml: %s at %ld\n", result.description(), static_cast<long>(result.offset));
        return 1;
      }
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (elapsed < best) best = elapsed;
  }
  std::printf("%.1f MB/s %lu elements %lu attributes\n", size / best / 1e6, elements, attributes);
  return 0;
}
