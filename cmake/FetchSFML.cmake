# Puts the SFML 2.5.1 source in DESTINATION (cmake -P), for scripts/build-windows:
# the official release, checked against its SHA-256, or LOCAL, a copy of the
# same source on this machine (a .zip or .tar.gz, or a folder), for a build
# without internet.

include(FetchContent)
if(LOCAL)
  set(source URL "${LOCAL}")
else()
  set(source URL https://www.sfml-dev.org/files/SFML-2.5.1-sources.zip
             URL_HASH SHA256=bf1e0643acb92369b24572b703473af60bac82caf5af61e77c063b779471bb7f)
endif()
FetchContent_Populate(sfml QUIET ${source}
  SOURCE_DIR "${DESTINATION}" SUBBUILD_DIR "${DESTINATION}-download" BINARY_DIR "${DESTINATION}-download/unused")
