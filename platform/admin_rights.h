// Whether the process runs with the administrators' group enabled in its
// token: an elevated administrator, not one whose token UAC has filtered.
// Asked of advapi32, which every run loads anyway, rather than of shell32,
// whose loading brings the whole windowing stack into a quiet run.
#pragma once

bool UserIsAdministrator();
