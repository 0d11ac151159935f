// The program's icon on the display window.
#pragma once

// Sets the built-in icon on the window of the current OpenGL context (the
// GLUT window just created). Does nothing when the icon or the window is missing.
void setCurrentWindowIcon();
