#pragma once
// Changes to a signed image that keep its signature valid, and the removal
// of a signature. The signature covers everything before the certificate
// table except the checksum and the directory entry, so blocks may go into
// the table after the signature data as long as the table's length field
// and the directory size agree and stay 8-byte aligned.
#include <stdint.h>

#include <string>

#include "package/appended_blocks.h"

// The PE checksum of image with its checksum field taken as zero.
uint32_t PeChecksum(const std::string& image, uint32_t checksumAt);
// Writes the checksum into the headers; nothing when image is no PE image.
void UpdatePeChecksum(std::string* image);

// The signed image's table as the maker edits it: false with a reason in
// error when image carries no usable table.
bool ReadCertificateTable(const std::string& image, CertificateTable* table, std::string* error);

// The parameter block stamped after signing: the first block inside the
// table when it is one. Its start in *start.
bool StampedParameterBlock(const std::string& image, uint32_t* start);

// Cuts the table at keep (its content up to there stays), puts zero bytes
// and then block after it so that the table ends 8-byte aligned, and grows
// the table's length field, the directory size and the checksum. The file
// position of block is returned.
uint32_t PlaceInCertificateTable(std::string* image, const CertificateTable& table, uint32_t keep,
                                 const std::string& block);

// Writes the parameter block into the table: replaces one stamped after
// signing, else adds it. *replaced tells which.
void StampInCertificateTable(std::string* image, const CertificateTable& table, const std::string& block,
                             bool* replaced);

// Removes the signature: the directory entry is zeroed and a table that ends
// the file is cut off, with the signing tool's alignment zeros before it
// when they follow a block; the checksum is recomputed.
void DropSignature(std::string* image);
