# libpng, libtiff and libjpeg-turbo for the Windows builds.
#
# Debian packages no MinGW builds of them, so all three are cross-built here as
# static libraries, with the same toolchain file as everything else, from the
# Debian source packages (Debian's patches applied) that scripts/setup unpacks
# into third_party/. zlib is Debian's libz-mingw-w64-dev. The result is
# exposed as PNG::PNG and TIFF::TIFF, the names find_package gives the native
# build (and JPEG::JPEG for libjpeg-turbo), so the rest of the tree links
# them the same way on every platform.
#
# The libraries build once per build tree (about a minute); they build again
# only when scripts/setup has fetched other versions of the sources.

include(ExternalProject)

set(KESTRELLE_THIRD_PARTY_DIR ${CMAKE_SOURCE_DIR}/third_party CACHE PATH
    "Where scripts/setup unpacked Debian's libpng, libtiff and libjpeg-turbo sources")
foreach(_source libpng tiff libjpeg-turbo)
  if(NOT EXISTS ${KESTRELLE_THIRD_PARTY_DIR}/${_source}/.debian-version)
    message(FATAL_ERROR "The ${_source} sources are missing from ${KESTRELLE_THIRD_PARTY_DIR}. "
                        "Run scripts/setup: it fetches them.")
  endif()
  file(READ ${KESTRELLE_THIRD_PARTY_DIR}/${_source}/.debian-version _version)
  string(STRIP "${_version}" _version)
  message(STATUS "Cross-building ${_source} ${_version} from Debian's sources")
endforeach()

# The static archive by file name: the import library libz.dll.a sits next to
# it and would make every program need zlib1.dll.
find_library(KESTRELLE_ZLIB_LIBRARY NAMES libz.a NO_CACHE)
find_path(KESTRELLE_ZLIB_INCLUDE_DIR zlib.h NO_CACHE)
if(NOT KESTRELLE_ZLIB_LIBRARY OR NOT KESTRELLE_ZLIB_INCLUDE_DIR)
  message(FATAL_ERROR "MinGW zlib not found: install libz-mingw-w64-dev (scripts/setup does).")
endif()

set(_prefix ${CMAKE_BINARY_DIR}/third_party)
# Imported targets may not name include folders that do not exist yet.
file(MAKE_DIRECTORY ${_prefix}/include)

set(_common_args
  -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
  -DCMAKE_BUILD_TYPE=Release
  -DCMAKE_INSTALL_PREFIX=${_prefix}
  -DCMAKE_INSTALL_LIBDIR=lib
  -DBUILD_SHARED_LIBS=OFF
  -DZLIB_LIBRARY=${KESTRELLE_ZLIB_LIBRARY}
  -DZLIB_INCLUDE_DIR=${KESTRELLE_ZLIB_INCLUDE_DIR}
)
# Their warnings are not ours to fix; the logs keep the output, shown only
# when a step fails.
set(_log_args LOG_CONFIGURE ON LOG_BUILD ON LOG_INSTALL ON LOG_OUTPUT_ON_FAILURE ON)

ExternalProject_Add(kestrelle_libpng
  SOURCE_DIR ${KESTRELLE_THIRD_PARTY_DIR}/libpng
  BINARY_DIR ${CMAKE_BINARY_DIR}/third_party-build/libpng
  CMAKE_ARGS ${_common_args}
    -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF
    # Without awk libpng takes its stock pnglibconf.h (the default options)
    # instead of generating it: the generating rules race in parallel builds.
    -DAWK=AWK-NOTFOUND
  BUILD_BYPRODUCTS ${_prefix}/lib/libpng16.a
  ${_log_args}
)

ExternalProject_Add(kestrelle_libtiff
  SOURCE_DIR ${KESTRELLE_THIRD_PARTY_DIR}/tiff
  BINARY_DIR ${CMAKE_BINARY_DIR}/third_party-build/tiff
  CMAKE_ARGS ${_common_args}
    # Only what photographs in PNG/TIFF workflows need: deflate (zlib), LZW
    # and PackBits, plus libtiff's built-in codecs. Every external codec is
    # off so the build finds nothing by accident.
    -Dzlib=ON -Dlibdeflate=OFF -Dpixarlog=OFF
    -Djpeg=OFF -Dold-jpeg=OFF -Djbig=OFF -Dlzma=OFF -Dzstd=OFF -Dwebp=OFF -Dlerc=OFF
    -Dcxx=OFF -Dtiff-opengl=OFF
    -Dtiff-tools=OFF -Dtiff-tests=OFF -Dtiff-contrib=OFF -Dtiff-docs=OFF
  BUILD_BYPRODUCTS ${_prefix}/lib/libtiff.a
  ${_log_args}
)

# libjpeg-turbo with its SIMD code (nasm): the static library alone, not its
# tools. Its install step would build the tools, so the library and the four
# public headers are copied instead.
find_program(KESTRELLE_NASM nasm)
if(NOT KESTRELLE_NASM)
  message(FATAL_ERROR "nasm not found: install nasm (scripts/setup does).")
endif()
set(_jpeg_build ${CMAKE_BINARY_DIR}/third_party-build/libjpeg-turbo)
ExternalProject_Add(kestrelle_libjpeg
  SOURCE_DIR ${KESTRELLE_THIRD_PARTY_DIR}/libjpeg-turbo
  BINARY_DIR ${_jpeg_build}
  CMAKE_ARGS ${_common_args}
    -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DWITH_JAVA=OFF
    -DWITH_SIMD=ON -DREQUIRE_SIMD=ON -DCMAKE_ASM_NASM_COMPILER=${KESTRELLE_NASM}
  BUILD_COMMAND ${CMAKE_COMMAND} --build ${_jpeg_build} --target jpeg-static
  INSTALL_COMMAND ${CMAKE_COMMAND} -E copy ${_jpeg_build}/libjpeg.a ${_prefix}/lib/libjpeg.a
    COMMAND ${CMAKE_COMMAND} -E copy ${_jpeg_build}/jconfig.h
            ${KESTRELLE_THIRD_PARTY_DIR}/libjpeg-turbo/jpeglib.h
            ${KESTRELLE_THIRD_PARTY_DIR}/libjpeg-turbo/jmorecfg.h
            ${KESTRELLE_THIRD_PARTY_DIR}/libjpeg-turbo/jerror.h ${_prefix}/include
  BUILD_BYPRODUCTS ${_prefix}/lib/libjpeg.a
  ${_log_args}
)

# Fresh sources from scripts/setup mean a fresh build of that library.
ExternalProject_Add_StepDependencies(kestrelle_libpng configure
  ${KESTRELLE_THIRD_PARTY_DIR}/libpng/.debian-version)
ExternalProject_Add_StepDependencies(kestrelle_libtiff configure
  ${KESTRELLE_THIRD_PARTY_DIR}/tiff/.debian-version)
ExternalProject_Add_StepDependencies(kestrelle_libjpeg configure
  ${KESTRELLE_THIRD_PARTY_DIR}/libjpeg-turbo/.debian-version)

add_library(kestrelle_zlib_static STATIC IMPORTED)
set_target_properties(kestrelle_zlib_static PROPERTIES
  IMPORTED_LOCATION ${KESTRELLE_ZLIB_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${KESTRELLE_ZLIB_INCLUDE_DIR})

add_library(kestrelle_libpng_static STATIC IMPORTED)
set_target_properties(kestrelle_libpng_static PROPERTIES
  IMPORTED_LOCATION ${_prefix}/lib/libpng16.a
  INTERFACE_INCLUDE_DIRECTORIES ${_prefix}/include
  INTERFACE_LINK_LIBRARIES kestrelle_zlib_static)

add_library(kestrelle_libtiff_static STATIC IMPORTED)
set_target_properties(kestrelle_libtiff_static PROPERTIES
  IMPORTED_LOCATION ${_prefix}/lib/libtiff.a
  INTERFACE_INCLUDE_DIRECTORIES ${_prefix}/include
  INTERFACE_LINK_LIBRARIES kestrelle_zlib_static)

# Interface libraries carry the build-order dependency on the external
# builds to whatever links them; imported targets cannot.
add_library(kestrelle_png INTERFACE)
target_link_libraries(kestrelle_png INTERFACE kestrelle_libpng_static)
add_dependencies(kestrelle_png kestrelle_libpng)
add_library(PNG::PNG ALIAS kestrelle_png)

add_library(kestrelle_tiff INTERFACE)
target_link_libraries(kestrelle_tiff INTERFACE kestrelle_libtiff_static)
add_dependencies(kestrelle_tiff kestrelle_libtiff)
add_library(TIFF::TIFF ALIAS kestrelle_tiff)

add_library(kestrelle_libjpeg_static STATIC IMPORTED)
set_target_properties(kestrelle_libjpeg_static PROPERTIES
  IMPORTED_LOCATION ${_prefix}/lib/libjpeg.a
  INTERFACE_INCLUDE_DIRECTORIES ${_prefix}/include)

add_library(kestrelle_jpeg INTERFACE)
target_link_libraries(kestrelle_jpeg INTERFACE kestrelle_libjpeg_static)
add_dependencies(kestrelle_jpeg kestrelle_libjpeg)
add_library(JPEG::JPEG ALIAS kestrelle_jpeg)
