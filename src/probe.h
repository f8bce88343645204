#ifndef KESTRN_PROBE_H
#define KESTRN_PROBE_H

// True when the named file could be opened for reading while no other
// opener was admitted. The file is closed again before this returns.
bool probe_exclusive_open(const char *file_name);

#endif
