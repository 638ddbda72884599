# The program's icon is one SVG; the raster sizes of the hicolor theme are rendered from it at
# build time, so nothing generated is kept in the repository.
#
# vxt_render_icons(<out_dir> <files_var>): adds the rendering commands to the calling folder and
# sets <files_var> to the PNG files, <out_dir>/<N>x<N>/apps/vxt-upgrade.png.
set(VXT_ICON_SVG ${CMAKE_CURRENT_LIST_DIR}/vxt-upgrade.svg)
set(VXT_ICON_SIZES 16 22 24 32 48 64 128 256)

function(vxt_render_icons out_dir files_var)
  find_program(VXT_RSVG_CONVERT rsvg-convert REQUIRED)
  set(files "")
  foreach(size ${VXT_ICON_SIZES})
    set(png ${out_dir}/${size}x${size}/apps/vxt-upgrade.png)
    add_custom_command(
      OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${out_dir}/${size}x${size}/apps
      COMMAND ${VXT_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${VXT_ICON_SVG}
      DEPENDS ${VXT_ICON_SVG}
      COMMENT "Rendering the ${size} px icon"
      VERBATIM)
    list(APPEND files ${png})
  endforeach()
  set(${files_var} ${files} PARENT_SCOPE)
endfunction()
