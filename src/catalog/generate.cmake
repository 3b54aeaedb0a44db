# The catalogue table is data (src/catalog/data/catalog.json) turned into constant-initialised C++
# at build time, so the reviewed file and the compiled table cannot drift apart.
find_package(Python3 COMPONENTS Interpreter REQUIRED)

set(tavrel_catalog_data ${PROJECT_SOURCE_DIR}/src/catalog/data/catalog.json)
set(tavrel_catalog_generator ${PROJECT_SOURCE_DIR}/src/catalog/gen/gen_catalog.py)
set(tavrel_catalog_table ${CMAKE_CURRENT_BINARY_DIR}/generated/catalog/catalog_table.cpp)

add_custom_command(
  OUTPUT ${tavrel_catalog_table}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/generated/catalog
  COMMAND Python3::Interpreter ${tavrel_catalog_generator} ${tavrel_catalog_data}
          ${tavrel_catalog_table}
  DEPENDS ${tavrel_catalog_data} ${tavrel_catalog_generator}
  COMMENT "Generating the datapoint catalogue table"
  VERBATIM)

target_sources(tavrel_catalog PRIVATE ${tavrel_catalog_table})
