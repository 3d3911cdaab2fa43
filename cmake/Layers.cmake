# A layer's headers are reachable only through its library: each library's include root is a
# folder of its own in the build tree, holding a link to the layer's source folder alone. A source
# that includes a header of a layer its library does not link fails to compile, so the layers'
# direction is the build's, not a convention.
#
#   velmor_layer(velmor_protocol gateway/protocol)  ->  #include "gateway/protocol/EncoderLine.h"
function(velmor_layer target folder)
    set(root ${PROJECT_BINARY_DIR}/layers/${target})
    get_filename_component(parent ${root}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    if(NOT IS_SYMLINK ${root}/${folder})
        file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
    endif()
    target_include_directories(${target} PUBLIC ${root})
endfunction()
