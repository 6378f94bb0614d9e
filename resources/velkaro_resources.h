#pragma once

// Registers the program's drawn resources under ":/velkaro/". Every loader calls it
// first: the data sits in a static library, and only a call from code makes the
// linker keep it. Registering again is harmless.
void initVelkaroResources();
