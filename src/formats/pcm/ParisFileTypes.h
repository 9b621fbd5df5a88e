// Registration of the Paris format with the sound-file core: the factory of
// ' paf' and the channel-count probe that type detection asks.
#pragma once

void RegisterParisFileTypes();
