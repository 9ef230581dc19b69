#pragma once

class WindowHost;

// Browse for the file to duplicate, into Text1.
void PushButton1_Click(WindowHost& window);
// Browse for the list file, into Text2.
void PushButton2_Click(WindowHost& window);
