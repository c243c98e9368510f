# libmosquitto, the MQTT client library the station publishes with, built
# from Debian's source package (tools/mosquitto-source puts it into .deps/)
# with the build's own toolchain: its static client library alone, without
# the broker, the clients, TLS or cJSON. It is a CMake project of its own
# (it sets its definitions for its whole tree), so it is configured and
# built apart, in the build folder's libmosquitto/.
include(ExternalProject)

set(KORVAN_MOSQUITTO_SOURCE "${CMAKE_SOURCE_DIR}/.deps/mosquitto" CACHE PATH
    "The source of Debian's mosquitto package (tools/mosquitto-source)")
if(NOT EXISTS "${KORVAN_MOSQUITTO_SOURCE}/lib/mosquitto.c")
  message(FATAL_ERROR "libmosquitto's source not found in ${KORVAN_MOSQUITTO_SOURCE}: "
                      "run tools/install-deps (or tools/mosquitto-source)")
endif()

set(mosquitto_binary ${CMAKE_BINARY_DIR}/libmosquitto)
set(mosquitto_library ${mosquitto_binary}/lib/libmosquitto_static.a)
# Windows 7's API, and no build folder in what the compiler writes down.
set(mosquitto_c_flags "-D_WIN32_WINNT=0x0601 -ffile-prefix-map=${KORVAN_MOSQUITTO_SOURCE}/=")
ExternalProject_Add(mosquitto_build
  SOURCE_DIR ${KORVAN_MOSQUITTO_SOURCE}
  BINARY_DIR ${mosquitto_binary}
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
    -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_C_FLAGS=${mosquitto_c_flags}
    -DWITH_STATIC_LIBRARIES=ON -DWITH_TLS=OFF -DWITH_TLS_PSK=OFF -DWITH_EC=OFF
    -DWITH_BROKER=OFF -DWITH_CLIENTS=OFF -DWITH_APPS=OFF -DWITH_PLUGINS=OFF
    -DWITH_LIB_CPP=OFF -DWITH_CJSON=OFF -DWITH_SOCKS=OFF -DWITH_SRV=OFF
    -DDOCUMENTATION=OFF -DWITH_THREADING=ON
  BUILD_COMMAND ${CMAKE_COMMAND} --build . --target libmosquitto_static
  BUILD_BYPRODUCTS ${mosquitto_library}
  INSTALL_COMMAND ""
  TEST_COMMAND ""
  LOG_CONFIGURE ON
  LOG_BUILD ON
  LOG_OUTPUT_ON_FAILURE ON)

# The library as the station's server links it.
add_library(mosquitto_client STATIC IMPORTED GLOBAL)
set_target_properties(mosquitto_client PROPERTIES IMPORTED_LOCATION ${mosquitto_library})
file(MAKE_DIRECTORY ${KORVAN_MOSQUITTO_SOURCE}/include)
target_include_directories(mosquitto_client SYSTEM INTERFACE ${KORVAN_MOSQUITTO_SOURCE}/include)
target_compile_definitions(mosquitto_client INTERFACE LIBMOSQUITTO_STATIC)
target_link_libraries(mosquitto_client INTERFACE ws2_32)
add_dependencies(mosquitto_client mosquitto_build)
