// Registration of the file types the sound-file core makes itself: 'Snip'
// (CSnippetFile) and the set files 'Splt' and 'Srnd' (RegisterSetFileTypes).
// The application and the batch command call it once at start-up, before
// any worker thread runs; calling it again does no harm.
#pragma once

void RegisterCoreFileTypes();
