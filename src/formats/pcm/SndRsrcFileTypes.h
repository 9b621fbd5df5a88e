// Registration of the System 7 sound type ('sfil'): its factory.  Type
// detection recognises these files by their HFS type.
#pragma once

void RegisterSndRsrcFileTypes();
