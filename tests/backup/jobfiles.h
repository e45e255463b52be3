// A hand-written job for end-to-end runs: a source tree, NAME.JOB ticking it and NAME.INI with
// the archive name, the options and the inclusion grid.
#pragma once

#include <sys/stat.h>

#include <set>
#include <string>

#include "testutil.h"

struct HandWrittenJob {
  std::string root;     // scratch folder
  std::string data;     // the ticked folder
  std::string folder;   // the archive's folder
  std::string archive;  // Fname
  std::string job;      // NAME.JOB

  explicit HandWrittenJob(const std::string& scratch) : root(scratch) {
    data = root + "/data";
    folder = root + "/some/folder";
    archive = folder + "/docs.zip";
    job = root + "/docs.JOB";
    for (const std::string& d :
         {data, data + "/pics", data + "/notes", data + "/empty", root + "/some", folder})
      ::mkdir(d.c_str(), 0755);
    testutil::WriteFile(data + "/report.txt", std::string(20000, 'r'));
    testutil::WriteFile(data + "/scratch.tmp", "temporary");
    testutil::WriteFile(data + "/pics/photo.jpg", std::string(8000, 'p'));
    testutil::WriteFile(data + "/pics/Holiday.JPG", std::string(8000, 'h'));
    testutil::WriteFile(data + "/notes/todo.md", "- backup\n");
    testutil::WriteFile(data + "/notes/old.TMP", "old");
    testutil::WriteFile(job, std::string("ARCAVO-JOB 1\nC\tD\t") + data + "\n");
    WriteIni(0, 24);
  }

  // optCheck6: functions (1 stamp, 2 versioning); optCheck2: directory items; optCheck1: mode;
  // more: further "key=value\n" lines of section "Options".
  void WriteIni(int optCheck6, int optCheck2, int optCheck1 = 0,
                const std::string& more = "") const {
    testutil::WriteFile(root + "/docs.INI",
                        "[ZIPFILE]\nFname=" + archive + "\n[Options]\nClrDisk=0\nOptCheck1=" +
                            std::to_string(optCheck1) + "\nOptCheck2=" + std::to_string(optCheck2) +
                            "\nOptCheck4=0\nOptCheck6=" + std::to_string(optCheck6) + "\n" + more +
                            "[SGcol0]\n1=*.*\n[SGcol1]\n1=*.TMP\n[SGcol2]\n1=*.JPG\n");
  }

  // What `unzip -Z1` must list: the folders below the ticked one and every file but *.tmp,
  // stored with their full folder (without the leading "/").
  std::set<std::string> ExpectedNames() const {
    const std::string d = data.substr(1) + "/";
    return {d + "report.txt", d + "pics/",         d + "pics/photo.jpg", d + "pics/Holiday.JPG",
            d + "notes/",     d + "notes/todo.md", d + "empty/"};
  }
};
