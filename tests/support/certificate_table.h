#pragma once
// Blocks put inside a signed image's certificate table, after the signature
// data, as older stamps and hostile files have them; for tests on any
// platform.
#include <stdint.h>

#include <string>

#include "package/appended_blocks.h"
#include "tools/maker/signed_image.h"

// Cuts the table at keep (its content up to there stays), puts zero bytes
// and then block after it so that the table ends 8-byte aligned, and grows
// the table's length field, the directory size and the checksum. The file
// position of block is returned.
inline uint32_t PlaceInCertificateTable(std::string* image, const CertificateTable& table, uint32_t keep,
                                        const std::string& block) {
  uint32_t pad = (8 - (keep - table.start + block.size()) % 8) % 8;
  image->resize(keep);
  image->append(pad, '\0');
  image->append(block);
  uint32_t length = static_cast<uint32_t>(image->size()) - table.start;
  PeHeaderFields fields;
  FindPeHeaderFields(reinterpret_cast<const unsigned char*>(image->data()), static_cast<uint32_t>(image->size()),
                     &fields);
  for (uint32_t at : {table.start, fields.securityEntryAt + 4}) {
    for (int i = 0; i < 4; ++i) (*image)[at + i] = static_cast<char>((length >> (8 * i)) & 0xff);
  }
  UpdatePeChecksum(image);
  return keep + pad;
}
