// Registration of the Creative Voice types ('VOC ', 'VOC2'): their factories
// and the block walk that type detection uses.
#pragma once

void RegisterVOCFileTypes();
