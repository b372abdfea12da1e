# The toolboxes for programs outside this tree. `cmake --install` (or only
# `--component toolboxes`) puts their libraries, their headers and the CMake
# package torvex_dornel under the prefix; an outside project then does
#
#   find_package(torvex_dornel REQUIRED)
#   target_link_libraries(app PRIVATE torvex_dornel::psftools)  # or ::lightcurve
#
# and gets the libraries these need, in the order that links, with CCfits,
# CFITSIO and the threads library.
if(NOT TARGET psftools OR NOT TARGET lightcurve)
  return()
endif()

# What the two toolboxes link, directly or not.
set(toolbox_targets psftools lightcurve dornel_core orvfits util orv)
# The libraries go to a folder of their own: libutil.a beside the system's
# libutil would shadow it.
set(toolbox_libdir ${CMAKE_INSTALL_LIBDIR}/torvex_dornel)
set(toolbox_cmakedir ${CMAKE_INSTALL_LIBDIR}/cmake/torvex_dornel)

# Code built with the sanitizers links only with their run-time libraries, so
# the installed libraries of a sanitizer build ask for them.
if(SANITIZE)
  foreach(t IN LISTS toolbox_targets)
    get_target_property(type ${t} TYPE)
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      target_link_options(${t} INTERFACE $<INSTALL_INTERFACE:-fsanitize=address,undefined>)
    endif()
  endforeach()
endif()

install(TARGETS ${toolbox_targets}
        EXPORT torvex_dornelTargets
        ARCHIVE DESTINATION ${toolbox_libdir} COMPONENT toolboxes)

# The headers a caller includes, and those they include; the toolboxes'
# internal headers stay in the tree.
install(FILES
          orv/Evaluate.h orv/MArray.h orv/MArrayIter.h orv/MemoryBlock.h orv/Print.h orv/Range.h
          orv/RangeException.h orv/Reduce.h orv/Shape.h orv/TExpr.h
        DESTINATION ${TOOLBOX_INCLUDEDIR}/orv COMPONENT toolboxes)
install(FILES
          orv/fits/fits.h orv/fits/fits_data.h orv/fits/fits_header.h orv/fits/fits_card.h
          orv/fits/fits_const.h orv/fits/fits_exception.h orv/fits/ascio.h
        DESTINATION ${TOOLBOX_INCLUDEDIR}/orv/fits COMPONENT toolboxes)
install(FILES util/region.h util/uexception.h
        DESTINATION ${TOOLBOX_INCLUDEDIR}/util COMPONENT toolboxes)
install(FILES
          lightcurve/Lightcurve.h lightcurve/Stopwatch.h lightcurve/random.h lightcurve/sorting.h
          lightcurve/helpers.h lightcurve/elliptic.h lightcurve/occultation.h
        DESTINATION ${TOOLBOX_INCLUDEDIR}/lightcurve COMPONENT toolboxes)
install(FILES
          psftools/psf.h psftools/aperture.h psftools/marquardt.h psftools/fit_models.h
          psftools/random.h psftools/lu.h psftools/polyfit.h psftools/gamma_bessel.h
          psftools/printF.h
        DESTINATION ${TOOLBOX_INCLUDEDIR}/psftools COMPONENT toolboxes)

install(EXPORT torvex_dornelTargets
        NAMESPACE torvex_dornel::
        DESTINATION ${toolbox_cmakedir} COMPONENT toolboxes)
include(CMakePackageConfigHelpers)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/torvex_dornelConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/torvex_dornelConfig.cmake
                              INSTALL_DESTINATION ${toolbox_cmakedir})
install(FILES ${PROJECT_BINARY_DIR}/torvex_dornelConfig.cmake
        DESTINATION ${toolbox_cmakedir} COMPONENT toolboxes)
