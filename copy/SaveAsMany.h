#pragma once

#include "app/report/CommandHost.h"

// "Start Saving": copies the file named in Text1 to every target listed in the file named in
// Text2, in list order, then says "Done.".
void PushButton3_Click(CommandHost& host);
