# Every outside package, with the minimum version we build against (Debian 12's).
find_package(PkgConfig REQUIRED)

# libxlsxwriter >= 1.1: writes every workbook (check workbook, VBT reports). No CMake config file.
pkg_check_modules(XLSXWRITER REQUIRED IMPORTED_TARGET xlsxwriter>=1.1)
# PCRE2 >= 10.40 (8-bit): every regular expression (Perl syntax, (?P<name>...), UTF + UCP).
pkg_check_modules(PCRE2 REQUIRED IMPORTED_TARGET libpcre2-8>=10.40)
# libzip >= 1.7: .igxl/.zip devices and the .xlsx/.xlsm containers. Its CMake config needs the
# zip tool packages, so pkg-config it is.
pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET libzip>=1.7)
# pugixml >= 1.11: the XML parts of .xlsx files.
find_package(pugixml 1.11 REQUIRED)
# ICU >= 70: Unicode case mapping, character classes, white space, Windows-1252 decoding.
find_package(ICU 70 REQUIRED COMPONENTS uc i18n)
# tsl::ordered_map >= 1.0: insertion-ordered maps.
find_package(tsl-ordered-map 1.0 REQUIRED)
# CLI11 >= 2.1: option parsing of the command-line hosts.
find_package(CLI11 2.1 REQUIRED)
# zlib: the stand-in pattern tool reads gzip pattern files.
find_package(ZLIB REQUIRED)
# Threads: nothing here is multi-threaded, but GoogleTest links it.
find_package(Threads REQUIRED)

if(TARNWICK_BUILD_TESTS)
  # GoogleTest >= 1.11, through CTest.
  find_package(GTest 1.11 REQUIRED)
  include(GoogleTest)
endif()
if(TARNWICK_BUILD_BENCH)
  # Google Benchmark >= 1.6, only for bench/.
  find_package(benchmark 1.6 REQUIRED)
endif()
