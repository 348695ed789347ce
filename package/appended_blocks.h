#pragma once
#include <stddef.h>
#include <stdint.h>

// Blocks appended after the executable image, read from the end backwards.
// Each ends with a 32-bit little-endian offset and a marker:
//   parameter block: 267 bytes ending in offset, "Cookies" (stepped over by
//                    its fixed size; the offset bytes belong to its text)
//   package block:   compound file, "Bulk", its start, "Suffix"
//   other block:     ..., its start, "Suffix"
// A signed file ends with its certificate table instead. Blocks appended
// before signing lie before the table and are covered by the signature;
// a parameter block stamped after signing lies in the signature itself (an
// unauthenticated attribute of its signer) or, as the maker stamped it
// before, inside the table after the signature data. Neither is covered.
enum AppendedBlockKind { kNoBlock, kParameterBlock, kPackageBlock, kOtherBlock };

const uint32_t kParameterBlockSize = 267;

struct AppendedBlock {
  AppendedBlockKind kind;
  uint32_t start;       // where the block begins (package: the compound file)
  uint32_t dataLength;  // package: bytes of the compound file; else 0
};

// The block that ends at end (end <= size). kNoBlock when no marker ends
// there, or when its offset would not move the walk backwards or leaves no
// room for its own ending.
AppendedBlock BlockEndingAt(const unsigned char* data, uint32_t end);

// Where the PE headers keep the image checksum and the security directory
// entry (8 bytes: the table's file position, then its size). False when
// data is no PE32 or PE32+ image or its headers do not fit.
struct PeHeaderFields {
  uint32_t checksumAt;
  uint32_t securityEntryAt;
};
bool FindPeHeaderFields(const unsigned char* data, uint32_t size, PeHeaderFields* fields);

// A certificate table that ends the file: its 8-byte header (length,
// revision, type), the signature data (DER), then padding or stamped blocks.
struct CertificateTable {
  uint32_t start;
  uint32_t signatureEnd;  // from the signature's own DER length
};
// False when there is none, or when it does not end the file or its
// signature data does not fit in it or has no definite DER length.
bool FindCertificateTable(const unsigned char* data, uint32_t size, CertificateTable* table);

// Where a block the walk met lies.
enum BlockPlace {
  kAppended,        // in a file without a signature
  kCovered,         // before the certificate table: the signature covers it
  kAfterSignature,  // inside the table, after the signature data
  kInSignature,     // the signer's parameter attribute
};

// The appended blocks from the end of the file backwards: first those
// inside a certificate table that ends the file, then the signer's
// parameter attribute, then those before the table. In a file whose
// certificate directory entry is non-zero no block at or after the table's
// start is met unless the signature's end is known.
class BlockWalk {
 public:
  BlockWalk(const unsigned char* data, uint32_t size);
  // The next block; kNoBlock once the walk is over.
  AppendedBlock Next();
  // The certificate directory entry is non-zero: the file claims a signature.
  bool Signed() const { return signed_; }
  // It does, but the table could not be read: nothing inside it is met.
  bool TableUnread() const { return signed_ && table_.signatureEnd == 0; }
  // Where the block Next() gave last lies.
  BlockPlace Place() const { return place_; }
  // Where the walk stands: the start of the block Next() gave last.
  uint32_t End() const { return end_; }

 private:
  const unsigned char* data_;
  uint32_t end_;
  uint32_t floor_;  // after the signature: the signature's end; else 0
  CertificateTable table_;
  bool signed_;
  BlockPlace place_;
};

// What Setup takes from its own file.
struct SetupBlocks {
  bool hasParameters;   // the first block of the walk is a parameter block
  uint32_t parameters;  // its start
  bool hasPackage;      // the first package the walk meets before any table
  uint32_t packageStart;
  uint32_t packageLength;
  // A package after the signature data: not covered by the signature, so
  // passed over.
  bool packageIgnored;
  // A signature of unknown length: nothing inside its table was taken.
  bool tableUnread;
};
SetupBlocks FindSetupBlocks(const unsigned char* data, uint32_t size);
