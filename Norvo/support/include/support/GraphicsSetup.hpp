#pragma once

namespace norvo {

// Which graphics paths GTK and WebKit take, chosen from the environment before GTK starts:
// it sets variables, so call it first thing in main, before any thread exists.
//
// Cards never need OpenGL: the web views are offscreen, drawn on the CPU and snapshotted.
// Without a window, OpenGL is left out entirely (GTK opens it with the display, and WebKit
// with its DMA-BUF renderer: together a fifth of a one-card run). With a window, GTK keeps
// OpenGL where a GPU can run it; with none (a virtual machine, Xvfb) OpenGL would be the
// CPU drawing through a shader compiler, and GTK's own software renderer draws the window
// sooner. A variable the user set is left as it is.
namespace GraphicsSetup {
enum class Use { Headless, Window };
void choose(Use use);
}  // namespace GraphicsSetup

}  // namespace norvo
