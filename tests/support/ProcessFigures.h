#pragma once

#include <juce_core/juce_core.h>

#include <fstream>
#include <malloc.h>
#include <string>
#include <sys/resource.h>

namespace testing_support
{
    /** What a long-running process holds, from /proc/self (Linux). */
    struct ProcessFigures
    {
        long rssKb = 0;     ///< resident memory
        long rssAnonKb = 0; ///< of which anonymous (heap, stacks): not the program's own pages
        long heapInUseKb = 0;
        long threads = 0;
        long fds = 0;

        static ProcessFigures measure()
        {
            ProcessFigures p;
            std::ifstream status ("/proc/self/status");

            for (std::string line; std::getline (status, line);)
            {
                if (line.rfind ("VmRSS:", 0) == 0)
                    p.rssKb = std::stol (line.substr (6));
                else if (line.rfind ("RssAnon:", 0) == 0)
                    p.rssAnonKb = std::stol (line.substr (8));
                else if (line.rfind ("Threads:", 0) == 0)
                    p.threads = std::stol (line.substr (8));
            }

            const auto heap = mallinfo2();
            p.heapInUseKb = (long) ((heap.uordblks + heap.hblkhd) / 1024);
            p.fds = juce::File ("/proc/self/fd").getNumberOfChildFiles (juce::File::findFilesAndDirectories);
            return p;
        }

        juce::String describe() const
        {
            return "RSS " + juce::String (rssKb) + " kB (anonymous " + juce::String (rssAnonKb) + " kB, heap in use "
                   + juce::String (heapInUseKb) + " kB), " + juce::String (threads) + " threads, " + juce::String (fds)
                   + " open file descriptors";
        }
    };

    /** The CPU time this process has used so far, user and system, in seconds. */
    inline double cpuSecondsUsed()
    {
        rusage usage {};
        getrusage (RUSAGE_SELF, &usage);
        return (double) (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
               + (double) (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
} // namespace testing_support
