# The netCDF templates: each data/templates/NAME.cdl becomes the classic-format
# file templates/NAME of the build tree, made by ncgen (never committed as a
# binary).  scripts/demo, the end-to-end tests and the storing fuzz harness
# copy them into the point-data directories that the CDL's "// point
# directories:" line names.  A build whose source folder is not the project's
# top (the fuzz build) sets QEV_TOP to it.
set(qev_templates_top ${CMAKE_SOURCE_DIR})
if(QEV_TOP)
  set(qev_templates_top ${QEV_TOP})
endif()
file(GLOB qev_cdl_files CONFIGURE_DEPENDS ${qev_templates_top}/data/templates/*.cdl)
set(qev_templates "")
if(QEV_NCGEN)
  foreach(cdl ${qev_cdl_files})
    get_filename_component(name ${cdl} NAME_WE)
    set(out ${CMAKE_BINARY_DIR}/templates/${name})
    add_custom_command(OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/templates
      COMMAND ${QEV_NCGEN} -b -k classic -o ${out} ${cdl}
      DEPENDS ${cdl} COMMENT "ncgen template ${name}" VERBATIM)
    list(APPEND qev_templates ${out})
  endforeach()
else()
  message(WARNING "ncgen not found: no netCDF templates (install netcdf-bin, scripts/setup)")
endif()
add_custom_target(templates ALL DEPENDS ${qev_templates})
