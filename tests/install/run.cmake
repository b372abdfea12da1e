# Installs the toolboxes of the build BUILD_DIR into a scratch prefix under
# SCRATCH, then configures, builds and runs the outside project against that
# prefix alone, with the build's compiler, generator and build type.
foreach(v BUILD_DIR SCRATCH OUTSIDE GENERATOR COMPILER BUILD_TYPE)
  if(NOT DEFINED ${v})
    message(FATAL_ERROR "run.cmake needs -D${v}=...")
  endif()
endforeach()

function(step)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out
                  ERROR_VARIABLE out WORKING_DIRECTORY ${SCRATCH})
  if(NOT status EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "failed (${status}): ${command}\n${out}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${SCRATCH})
file(MAKE_DIRECTORY ${SCRATCH})
set(prefix ${SCRATCH}/prefix)
step(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --component toolboxes)

# Only the toolboxes: no program, no internal header.
foreach(absent bin include/torvex_dornel/psftools/psf_chi.h
        include/torvex_dornel/lightcurve/guards.h include/torvex_dornel/orv/fits/fits_file.h)
  if(EXISTS ${prefix}/${absent})
    message(FATAL_ERROR "installed, but not for callers: ${absent}")
  endif()
endforeach()

step(${CMAKE_COMMAND} -S ${OUTSIDE} -B ${SCRATCH}/build -G ${GENERATOR}
     -DCMAKE_CXX_COMPILER=${COMPILER} -DCMAKE_BUILD_TYPE=${BUILD_TYPE}
     -DCMAKE_PREFIX_PATH=${prefix})
include(ProcessorCount)
ProcessorCount(cores)
step(${CMAKE_COMMAND} --build ${SCRATCH}/build -j ${cores})
foreach(program stars transit)
  step(${SCRATCH}/build/${program})
  message(STATUS "${out}")
endforeach()
if(NOT EXISTS ${SCRATCH}/stars.fits OR NOT EXISTS ${SCRATCH}/transit.fits)
  message(FATAL_ERROR "the outside programs wrote no FITS files")
endif()
file(REMOVE_RECURSE ${SCRATCH})
