# Runs the instrumented program's "bench" and hands each profile file to the object of the
# same source in the optimised program's build directory.
#   -DPROGRAM=... -DRUN_DIR=... -DGEN_DIR=... -DUSE_DIR=...
file(GLOB_RECURSE stale "${GEN_DIR}/*.gcda" "${USE_DIR}/*.gcda")
if(stale)
  file(REMOVE ${stale})
endif()
file(MAKE_DIRECTORY "${RUN_DIR}")
execute_process(COMMAND "${PROGRAM}" bench WORKING_DIRECTORY "${RUN_DIR}"
                RESULT_VARIABLE result OUTPUT_QUIET ERROR_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "profile training run failed: ${result}")
endif()
file(GLOB_RECURSE profiles RELATIVE "${GEN_DIR}" "${GEN_DIR}/*.gcda")
foreach(profile ${profiles})
  get_filename_component(dir "${USE_DIR}/${profile}" DIRECTORY)
  file(MAKE_DIRECTORY "${dir}")
  file(COPY_FILE "${GEN_DIR}/${profile}" "${USE_DIR}/${profile}")
endforeach()
