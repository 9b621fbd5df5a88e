#pragma once

// Registers the Sound Designer II ('Sd2f') and Dyaxis MacMix ('MMIX')
// factories and the 'Sd2f' channel-count probe.
void RegisterSDIIFileTypes();
