#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwick::tools {

// Packs `data` into a VBA compressed container made of literal tokens only: the signature
// byte 0x01, then one compressed chunk (header 0xB000 | (chunk size - 3)) whose token
// sequences are a flag byte 0x00 followed by up to eight literal bytes. Throws
// std::runtime_error when `data` is longer than one such chunk holds (3640 bytes).
std::string compress_container(std::string_view data);

// Obfuscates `data` the way the project text stores its protection fields (CMG, DPB, GC):
// seed, version 2, the key taken from `project_id` ("{GUID}"), (seed & 6) / 2 filler bytes,
// the 4-byte length, then the data, each byte chained to the ones before. Returns upper-case
// hexadecimal text.
std::string encrypt_to_hex(std::string_view project_id, std::uint8_t seed,
                           std::string_view data);

// The bytes of the VBA project file: a compound file with the streams PROJECT, PROJECTwm,
// VBA/_VBA_PROJECT, VBA/dir and the modules VBA/ThisWorkbook (the workbook's document module)
// and VBA/Module1 ("Option Explicit"). Identical on every call.
std::string make_vba_project();

} // namespace tarnwick::tools
