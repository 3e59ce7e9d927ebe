# The web build's two programs, from the same libraries as the native one:
#   quarvel_engine  the API module (quarvel_engine.js + .wasm) for browsers
#                   and Node: web_api.cc in place of main, documents from
#                   memory only, loaded synchronously (the page hands it the
#                   wasm bytes; Node reads them beside the script)
#   quarvel_node    the quarvel command for Node (quarvel_node.js + .wasm):
#                   main.cc over emscripten's file system on the host's own
#                   (NODERAWFS), so that files, pipes and -o work as natively
# Both take their heap from web_heap.cc, which counts it for the budget of
# each call; both grow their memory as needed, up to 2 GiB.
set(QUARVEL_WEB_LINK_OPTIONS
    -sALLOW_MEMORY_GROWTH=1 -sMAXIMUM_MEMORY=2GB -sWASM_ASYNC_COMPILATION=0
    -sNODEJS_CATCH_EXIT=0 -sNODEJS_CATCH_REJECTION=0)

add_executable(quarvel_engine src/frontend/web_api.cc src/platform/web_heap.cc)
target_link_libraries(quarvel_engine PRIVATE quarvel_core)
target_link_options(quarvel_engine PRIVATE ${QUARVEL_WEB_LINK_OPTIONS}
  -sMODULARIZE=1 -sEXPORT_NAME=createQuarvelEngine -sENVIRONMENT=web,node
  -sINVOKE_RUN=0
  "-sEXPORTED_FUNCTIONS=_malloc,_free"
  "-sEXPORTED_RUNTIME_METHODS=UTF8ToString,stringToUTF8,lengthBytesUTF8")

add_executable(quarvel_node src/frontend/main.cc src/platform/web_heap.cc)
target_link_libraries(quarvel_node PRIVATE quarvel_core)
target_link_options(quarvel_node PRIVATE ${QUARVEL_WEB_LINK_OPTIONS}
  -sNODERAWFS=1 -sENVIRONMENT=node -sEXIT_RUNTIME=1)

# The web build's tests, against the native program of QUARVEL_NATIVE_BUILD
# (build/, from scripts/setup.sh) and the npm package that scripts/web.sh
# packs into this build folder: label web (Node) and browser (the page in
# headless Chromium). scripts/test.sh runs them through scripts/web.sh --test.
set(QUARVEL_NATIVE_BUILD "" CACHE PATH "The native build whose quarvel the web tests compare with")
enable_testing()
if(QUARVEL_NATIVE_BUILD)
  find_program(NODE node REQUIRED)
  set(package ${CMAKE_BINARY_DIR}/npm)
  add_test(NAME web_compare_native
           COMMAND ${NODE} ${CMAKE_SOURCE_DIR}/tests/web/compare_native.js
                   ${QUARVEL_NATIVE_BUILD}/quarvel ${package} ${CMAKE_SOURCE_DIR})
  add_test(NAME web_api COMMAND ${NODE} ${CMAKE_SOURCE_DIR}/tests/web/api_test.js
                                ${QUARVEL_NATIVE_BUILD}/quarvel ${package})
  add_test(NAME web_package
           COMMAND ${CMAKE_SOURCE_DIR}/tests/web/check_package.sh
                   ${CMAKE_BINARY_DIR}/quarvel-${PROJECT_VERSION}.tgz ${QUARVEL_NATIVE_BUILD}
                   ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/playground/node_modules/.bin/tsc)
  set_tests_properties(web_compare_native web_api web_package PROPERTIES LABELS web TIMEOUT 600)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME browser_playground
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/web/browser_test.py
                   ${CMAKE_BINARY_DIR}/page/index.html ${QUARVEL_NATIVE_BUILD}/quarvel
                   ${CMAKE_SOURCE_DIR}/examples ${CMAKE_BINARY_DIR}/playground.png)
  set_tests_properties(browser_playground PROPERTIES LABELS browser TIMEOUT 300)
endif()
