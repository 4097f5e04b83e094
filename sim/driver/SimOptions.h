#pragma once

#include <string>

// What the command line of the simulator asks for.
struct SimOptions
{
    std::string file;          // the slice file to print (host path)
    std::string outDir;        // frames and timeline; default: <root>/sim-out
    std::string makeSample;    // write the sample model here and stop
    std::string makeCorrection; // write a projector's correction file here and stop
    int sampleLayers = 40;     // layers of the sample model
    int resolutionX = 0;       // the machine's panel; 0: as configured
    int resolutionY = 0;
    std::string correction;    // print with this correction file (host path)
    std::string mask;          // print with this mask image (host path)
    double speed = 1.0;        // machine clock against real time
    // Layers are counted from 1 wherever the user sees one.
    int pauseAt = 0;           // ask for a pause while this layer is made; 0: none
    int resumeAfterMs = 3000;  // machine time the pause is held
    int abortAt = 0;           // abort while this layer is exposed; 0: none
    int signalEveryMs = 0;     // a timer signal this often (real time), and a beep at every exposure
    bool frames = true;        // write every exposed frame as a PNG
    bool quiet = false;        // no progress line
    std::string pattern;       // show this test pattern instead of printing
    int maskColumns = 0;       // show a mask grid of columns x rows instead of printing
    int maskRows = 0;
    bool maskBlocks = false;   // the grid as blurred blocks, not as its surface

    bool showsServiceImage() const { return !pattern.empty() || maskColumns > 0; }
    bool writesFile() const { return !makeSample.empty() || !makeCorrection.empty(); }
};

// Parses the arguments; false (with the reason in `error`) when they make no sense.
bool parseSimOptions(int argc, char** argv, SimOptions& options, std::string& error);
const char* simUsage();
// Whether `name` is a test pattern the simulator can show.
bool isPatternName(const std::string& name);
