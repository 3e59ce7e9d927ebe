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
    -sALLOW_MEMORY_GROWTH=1 -sMAXIMUM_MEMORY=2GB -sWASM_ASYNC_COMPILATION=0)

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
  -sNODERAWFS=1 -sENVIRONMENT=node -sEXIT_RUNTIME=1 -sNODEJS_CATCH_REJECTION=0)
