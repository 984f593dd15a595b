#pragma once

namespace tclink::platform {

// Gives back the memory that this process's mappings of font files hold. FreeType reads a font
// through a mapping of the whole file, and the kernel maps up to 64 KiB of the file around each
// page read: a Chinese font whose glyphs lie scattered over 20 MB keeps megabytes resident for
// the hundred glyphs that Qt has read once and cached. The mappings stay usable (a glyph read
// later comes from the file again); only read-only private mappings are touched, so no data is
// lost. Returns how many mappings were released.
int releaseFontPages();

} // namespace tclink::platform
