#include "package/signer_attribute.h"

#include <string.h>

#include "package/appended_blocks.h"

const unsigned char kParameterAttributeType[kParameterAttributeTypeSize] = {
    0x69, 0xb1, 0xe9, 0xf8, 0xaf, 0xbf, 0x93, 0xe2, 0x95, 0x9f, 0x8b, 0xb2, 0x9b, 0x84, 0xef, 0xd6, 0xde, 0xab, 0x52};

// Every bound is checked as a difference from limit, so no length wraps.
bool ReadDerElement(const unsigned char* data, uint32_t at, uint32_t limit, DerElement* element) {
  if (at > limit || limit - at < 2 || (data[at] & 0x1f) == 0x1f) return false;
  uint32_t length = data[at + 1], header = 2;
  if (length & 0x80) {
    uint32_t bytes = length & 0x7f;
    if (bytes == 0 || bytes > 4 || bytes > limit - at - 2) return false;
    length = 0;
    for (uint32_t i = 0; i < bytes; ++i) length = length << 8 | data[at + 2 + i];
    header += bytes;
  }
  if (length > limit - at - header) return false;
  element->tag = data[at];
  element->at = at;
  element->content = at + header;
  element->end = at + header + length;
  return true;
}

static bool FirstChild(const unsigned char* data, const DerElement& parent, unsigned char tag, DerElement* child) {
  return ReadDerElement(data, parent.content, parent.end, child) && child->tag == tag;
}

bool FindSignerPath(const unsigned char* data, uint32_t at, uint32_t end, SignerPath* path) {
  // Each step: the tag and which element of the one before it is (0 first,
  // 1 second, kLast). signerInfos is the last element of SignedData, and
  // the unsigned attributes, when present, the last of the SignerInfo.
  const unsigned char kLast = 0xff;
  static const unsigned char kSteps[6][2] = {{0x30, 0}, {0xa0, 1}, {0x30, 0}, {0x31, kLast}, {0x30, 0}, {0xa1, kLast}};
  DerElement parent = {0, at, at, end};
  for (int i = 0; i < 6; ++i) {
    DerElement* e = &path->chain[i];
    for (uint32_t p = parent.content, n = 0;; p = e->end, ++n) {
      if (!ReadDerElement(data, p, parent.end, e)) return false;
      if (kSteps[i][1] == kLast ? e->end == parent.end : n == kSteps[i][1]) break;
    }
    path->depth = i;
    if (e->tag != kSteps[i][0]) return i == 5;
    parent = *e;
  }
  path->depth = 6;
  return true;
}

bool FindParameterAttribute(const unsigned char* data, const DerElement& attributes, DerElement* attribute,
                            DerElement* value) {
  for (uint32_t at = attributes.content; at < attributes.end; at = attribute->end) {
    DerElement type, values;
    if (!ReadDerElement(data, at, attributes.end, attribute)) return false;
    if (attribute->tag == 0x30 && FirstChild(data, *attribute, 0x06, &type) &&
        type.end - type.content == kParameterAttributeTypeSize &&
        memcmp(data + type.content, kParameterAttributeType, kParameterAttributeTypeSize) == 0)
      return ReadDerElement(data, type.end, attribute->end, &values) && values.tag == 0x31 &&
             FirstChild(data, values, 0x04, value);
  }
  return false;
}

bool FindSignedParameterBlock(const unsigned char* data, uint32_t at, uint32_t end, uint32_t* block) {
  SignerPath path;
  DerElement attribute, value;
  if (!FindSignerPath(data, at, end, &path) || path.depth != 6 ||
      !FindParameterAttribute(data, path.chain[5], &attribute, &value) ||
      value.end - value.content != kParameterBlockSize)
    return false;
  *block = value.content;
  return true;
}
