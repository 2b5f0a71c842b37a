/* The reference side of the XML benchmark: the same file parsed from memory by expat, natively. The handlers
 * do the least a loader must do (look at every element, attribute and piece of text), so the figure is
 * expat's parsing speed; "tree" also copies names, values and text into allocated nodes, as a document
 * model does. Prints the best of several runs in MB/s. */
#include <expat.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

struct Node {
  struct Node* next;
  size_t length;
  char data[];
};

struct Counts {
  unsigned long elements;
  unsigned long attributes;
  unsigned long textBytes;
  int buildTree;
  struct Node* nodes;
};

static void Keep(struct Counts* c, const char* data, size_t length) {
  struct Node* node = malloc(sizeof(struct Node) + length);
  if (!node) abort();
  node->next = c->nodes;
  node->length = length;
  memcpy(node->data, data, length);
  c->nodes = node;
}

static void XMLCALL OnStart(void* user, const XML_Char* name, const XML_Char** attributes) {
  struct Counts* c = user;
  ++c->elements;
  if (c->buildTree) Keep(c, name, strlen(name));
  for (; attributes[0]; attributes += 2) {
    ++c->attributes;
    if (c->buildTree) {
      Keep(c, attributes[0], strlen(attributes[0]));
      Keep(c, attributes[1], strlen(attributes[1]));
    }
  }
}

static void XMLCALL OnEnd(void* user, const XML_Char* name) {
  (void)user, (void)name;
}

static void XMLCALL OnText(void* user, const XML_Char* text, int length) {
  struct Counts* c = user;
  c->textBytes += (unsigned long)length;
  if (c->buildTree) Keep(c, text, (size_t)length);
}

static double Now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s file [iterations] [tree]\n", argv[0]);
    return 2;
  }
  int iterations = argc > 2 ? atoi(argv[2]) : 10;
  int buildTree = argc > 3 && strcmp(argv[3], "tree") == 0;
  FILE* f = fopen(argv[1], "rb");
  if (!f) return 1;
  fseek(f, 0, SEEK_END);
  long size = ftell(f);
  fseek(f, 0, SEEK_SET);
  char* data = malloc((size_t)size);
  if (!data || fread(data, 1, (size_t)size, f) != (size_t)size) return 1;
  fclose(f);

  double best = 1e30;
  struct Counts counts;
  for (int i = 0; i < iterations; ++i) {
    memset(&counts, 0, sizeof(counts));
    counts.buildTree = buildTree;
    double start = Now();
    XML_Parser parser = XML_ParserCreate("UTF-8");
    XML_SetUserData(parser, &counts);
    XML_SetElementHandler(parser, OnStart, OnEnd);
    XML_SetCharacterDataHandler(parser, OnText);
    if (XML_Parse(parser, data, (int)size, 1) != XML_STATUS_OK) {
      fprintf(stderr, "expat: %s\n", XML_ErrorString(XML_GetErrorCode(parser)));
      return 1;
    }
    XML_ParserFree(parser);
    while (counts.nodes) {
      struct Node* next = counts.nodes->next;
      free(counts.nodes);
      counts.nodes = next;
    }
    double elapsed = Now() - start;
    if (elapsed < best) best = elapsed;
  }
  printf("%.1f MB/s %lu elements %lu attributes\n", size / best / 1e6, counts.elements, counts.attributes);
  return 0;
}
