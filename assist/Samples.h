#pragma once

class WindowHost;

// Fills both boxes with the sample pair and offers to open its folder.
void PushButton6_Click(WindowHost& window);
