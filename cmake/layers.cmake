# The driver's layers, one library each: platform, channel, protocol,
# driver, and the add-in's objects. A layer's headers are reachable only
# through an include directory of its own in which its folder appears under
# its name, and a layer links only the layer below it, so a file sees the
# folders of its own layer and of the layers beneath and nothing above: an
# include against the direction fails to build.

set(PESOLAN_CHANNEL_SOURCES
  channel/error_codes.cpp
  channel/slot_table.cpp
  channel/decimal_separator.cpp
  channel/device_errors.cpp
  channel/device_handle.cpp
  channel/trace.cpp
  channel/connect.cpp
  channel/io.cpp
  channel/reception.cpp)
set(PESOLAN_PROTOCOL_SOURCES
  protocol/decimal.cpp
  protocol/parse.cpp
  protocol/units.cpp
  protocol/exchange.cpp
  protocol/reading.cpp)
set(PESOLAN_DRIVER_SOURCES
  driver/settings.cpp
  driver/documents.cpp
  driver/device_registry.cpp
  driver/driver.cpp)
set(PESOLAN_ADDIN_SOURCES
  addin/cp1251.cpp
  addin/variants.cpp
  addin/methods.cpp
  addin/component.cpp
  addin/exports.cpp)

# Gives target the include directory in which folder, and only it, appears.
function(pesolan_expose target folder)
  set(dir ${CMAKE_BINARY_DIR}/layers/${folder})
  if(NOT EXISTS ${dir}/${folder})
    file(MAKE_DIRECTORY ${dir})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${dir}/${folder} SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC ${dir})
endfunction()

function(pesolan_layer name type folder below)
  list(TRANSFORM ARGN PREPEND ${PROJECT_SOURCE_DIR}/)
  add_library(${name} ${type} ${ARGN})
  pesolan_expose(${name} ${folder})
  target_link_libraries(${name} PUBLIC ${below})
endfunction()

# channel, protocol, driver and the add-in's objects, over the platform
# library given (the real one, or the fuzz targets' virtual one).
function(pesolan_add_layers platform)
  pesolan_layer(pesolan_channel STATIC channel ${platform} ${PESOLAN_CHANNEL_SOURCES})
  pesolan_layer(pesolan_protocol STATIC protocol pesolan_channel ${PESOLAN_PROTOCOL_SOURCES})
  pesolan_layer(pesolan_driver STATIC driver pesolan_protocol ${PESOLAN_DRIVER_SOURCES})
  target_link_libraries(pesolan_driver PRIVATE pesolan_version)
  pesolan_layer(pesolan_addin OBJECT addin pesolan_driver ${PESOLAN_ADDIN_SOURCES})
  target_link_libraries(pesolan_addin PRIVATE pesolan_version)
endfunction()
