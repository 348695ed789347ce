#pragma once
// The parameter block a signed Setup.exe carries inside its signature: an
// unauthenticated attribute of the signer (outside what the signer's digest
// covers, so adding it keeps the signature valid, and nothing but zero
// alignment follows the signature data). A small DER reader, enough to walk
//   ContentInfo { type, [0] SignedData { ..., signerInfos SET { SignerInfo {
//     ..., [1] unauthenticated attributes SET OF { type, SET { value } } } } } }
#include <stddef.h>
#include <stdint.h>

// One DER element: its tag at `at`, its content [content, end).
struct DerElement {
  unsigned char tag;
  uint32_t at;
  uint32_t content;
  uint32_t end;
};

// The element at `at`, which must end by limit. Single-byte tags and
// definite lengths of 1 to 4 length bytes only: anything else (an
// indefinite length among them) is false, so nothing is read from it.
bool ReadDerElement(const unsigned char* data, uint32_t at, uint32_t limit, DerElement* element);

// The attribute type: 2.25.33116159896438817689316699286695024082, an OID
// made from a UUID (18e9f0bd-f93c-454f-8b64-6c26fad795d2), which needs no
// registration. Its content bytes; the value is an OCTET STRING holding the
// whole 267-byte parameter block.
const size_t kParameterAttributeTypeSize = 19;
extern const unsigned char kParameterAttributeType[kParameterAttributeTypeSize];

// The signature's elements from its ContentInfo down to its first signer:
// ContentInfo, [0], SignedData, signerInfos, SignerInfo, and the signer's
// unauthenticated attributes [1] when it has them (depth 6, else 5).
struct SignerPath {
  DerElement chain[6];
  int depth;
};
// False when [at, end) is no signature of that shape.
bool FindSignerPath(const unsigned char* data, uint32_t at, uint32_t end, SignerPath* path);

// The attribute of the parameter type among the unauthenticated attributes,
// and its first value. False when there is none or a value is not an OCTET
// STRING.
bool FindParameterAttribute(const unsigned char* data, const DerElement& attributes, DerElement* attribute,
                            DerElement* value);

// Where the signature [at, end) carries a parameter block of the right size
// in the attribute: its first byte. The caller checks the block's marker.
bool FindSignedParameterBlock(const unsigned char* data, uint32_t at, uint32_t end, uint32_t* block);
