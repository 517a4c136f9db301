# The header-only libraries, all from Debian's packages: nlohmann/json (the
# runner's control socket and --stats), stb_image and stb_image_write (its
# PNG goldens, screenshots and diff pictures) and CLI11 (the command lines of
# quillon-run and quillon-demo-device). A cross build finds the same headers
# in its prefix, where CrossDependencies.cmake copies them.
find_path(QUILLON_NLOHMANN_JSON_DIR nlohmann/json.hpp REQUIRED)
find_path(QUILLON_STB_DIR stb_image_write.h PATH_SUFFIXES stb REQUIRED)
find_path(QUILLON_CLI11_DIR CLI/CLI.hpp REQUIRED)

# As system headers: their own code is not held to the project's warnings.
add_library(quillon_json INTERFACE)
target_include_directories(quillon_json SYSTEM INTERFACE ${QUILLON_NLOHMANN_JSON_DIR})
add_library(quillon_stb INTERFACE)
target_include_directories(quillon_stb SYSTEM INTERFACE ${QUILLON_STB_DIR})
add_library(quillon_cli11 INTERFACE)
target_include_directories(quillon_cli11 SYSTEM INTERFACE ${QUILLON_CLI11_DIR})

# Boost.Beast and Asio (libboost-dev), for the web server alone: one source
# file includes them (host/web_server.cpp), so nothing else pays their
# compile time. Without them the programs are built without --http.
find_path(QUILLON_BOOST_DIR boost/beast/websocket.hpp)
if(QUILLON_BOOST_DIR)
    add_library(quillon_boost INTERFACE)
    target_include_directories(quillon_boost SYSTEM INTERFACE ${QUILLON_BOOST_DIR})
endif()
