#pragma once
// Changes to a signed image that keep its signature valid, and the removal
// of a signature. The signature covers everything before the certificate
// table except the checksum and the directory entry, and the signer's
// digest covers none of its unauthenticated attributes: the parameter block
// goes there, so that nothing but zero alignment follows the signature data
// (the platform's strict check refuses anything else). The table's length
// field and the directory size must agree and stay 8-byte aligned.
#include <stdint.h>

#include <string>

#include "package/appended_blocks.h"

// The PE checksum of image with its checksum field taken as zero.
uint32_t PeChecksum(const std::string& image, uint32_t checksumAt);
// Writes the checksum into the headers; nothing when image is no PE image.
void UpdatePeChecksum(std::string* image);

// The parameter block of text (at most 258 characters).
std::string MakeParameterBlock(const std::string& text);

// The signed image's table as the maker edits it: false with a reason in
// error when image carries no usable table.
bool ReadCertificateTable(const std::string& image, CertificateTable* table, std::string* error);

// The parameter block stamped after signing: the first block the walk
// meets, in the signature or after it. Its start in *start.
bool StampedParameterBlock(const std::string& image, uint32_t* start);

// Writes the parameter block into the signature as the signer's attribute:
// replaces one there, else adds it; whatever followed the signature data
// inside the table goes (an older stamp among it). *replaced tells whether
// the signature held one. False with a reason when the signature data is
// not of a shape the maker can edit.
bool StampInSignature(std::string* image, const CertificateTable& table, const std::string& block, bool* replaced,
                      std::string* error);

// Removes the signature: the directory entry is zeroed and a table that ends
// the file is cut off, with the signing tool's alignment zeros before it
// when they follow a block; the checksum is recomputed.
void DropSignature(std::string* image);
