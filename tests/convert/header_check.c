/* Compiled as strict C99: the conversion header stands alone in C, and the record a C caller
 * (or a ctypes binding) lays out is the one the library was built with. */
#undef NDEBUG
#include <assert.h>
#include <stddef.h>

#include "sonara_convert.h"

int main(void) {
    SonaraConversion conversion = {0};
    assert(sonara_conversion_size() == sizeof(SonaraConversion));
    assert(offsetof(SonaraConversion, wav) == 0);
    assert(offsetof(SonaraConversion, wav_size) == sizeof(void *));
    assert(sizeof(conversion.source_format) == SONARA_CONVERT_FORMAT_SIZE);
    assert(sizeof(conversion.error) == SONARA_CONVERT_ERROR_SIZE);
    assert(sizeof(conversion.declared_frames) == 8 && sizeof(conversion.decoded_frames) == 8);
    assert(sizeof(conversion.full_wav_size) == 8);
    assert(sonara_convert(NULL, 0, 0, NULL) == SONARA_CONVERT_BAD_ARGUMENT);
    assert(sonara_convert_bounded(NULL, 0, 0, 0, NULL) == SONARA_CONVERT_BAD_ARGUMENT);
    sonara_conversion_free(&conversion);
    sonara_conversion_free(NULL);
    return 0;
}
