// The tool writes UTF-8 (the printer's messages in Serbian); a Windows
// console shows its OEM code page unless told otherwise. Windows only.
#pragma once

namespace zuvcli {

// The console shows and reads UTF-8. Files and pipes get the bytes as they
// are, with or without it.
void UseUtf8Console();

}  // namespace zuvcli
