// The functions of the VdPlay decoding and display library that the player
// calls. They are declared once, in the decoder's public header, which the
// stand-in and the tests' fake decoder compile against as well: a definition
// that disagrees with a declaration there does not compile. On Windows the
// player imports them from VdPlay.dll through an import library made from
// vdplay/VdPlay.def, which the build checks against the same header.
#pragma once

#include <VdPlay.h>
