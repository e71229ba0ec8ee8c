# Boost for the Windows cross-build: property_tree and spirit are header-only,
# so Debian's headers serve every target. Only the boost/ directory is put on
# the include path (through a link in the build tree), never /usr/include
# itself, whose Linux headers would shadow MinGW's.
set(KESTROVA_HOST_BOOST /usr/include/boost CACHE PATH "Boost headers of the build host")
if(NOT EXISTS ${KESTROVA_HOST_BOOST}/version.hpp)
  message(FATAL_ERROR "Boost headers not found at ${KESTROVA_HOST_BOOST} (scripts/setup.sh build)")
endif()
file(STRINGS ${KESTROVA_HOST_BOOST}/version.hpp _boost_version REGEX "^#define BOOST_VERSION [0-9]+")
string(REGEX REPLACE ".* ([0-9]+)$" "\\1" _boost_version "${_boost_version}")
if(_boost_version LESS 107400)
  message(FATAL_ERROR "Boost 1.74 or later needed, found ${_boost_version}")
endif()

set(_boost_dir ${CMAKE_BINARY_DIR}/host-boost)
file(MAKE_DIRECTORY ${_boost_dir})
file(CREATE_LINK ${KESTROVA_HOST_BOOST} ${_boost_dir}/boost SYMBOLIC)

# An imported target: its include directory is a system one (-isystem).
add_library(Boost::headers INTERFACE IMPORTED)
set_target_properties(Boost::headers PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${_boost_dir})
