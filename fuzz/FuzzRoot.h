// A root folder and a record for the fuzz targets, made once per process.
#pragma once

struct Works;

// Creates a root under /tmp (removed at exit), sets it as the platform root and
// returns a record set up as at start-up, with the alarm table in place.
Works* FuzzWorks();
