// A console host of the update checker in C#, over UpdateChecker.cs.
//   check_for_update URL MAJOR MINOR BUILD   (this program's own version)
// Exit status: 0 up to date, 1 a newer version is published, 2 the check failed.
using System;
using System.Runtime.InteropServices;
using System.Threading;

namespace UpdateCheckExample
{
    static class Program
    {
        // No UI thread to come back to: the awaits resume on the thread pool,
        // in the same apartment as the object.
        [MTAThread]
        static int Main(string[] args)
        {
            if (args.Length != 4)
            {
                Console.WriteLine("usage: check_for_update URL MAJOR MINOR BUILD");
                return 2;
            }
            string url = args[0];
            int[] mine = { int.Parse(args[1]), int.Parse(args[2]), int.Parse(args[3]) };
            string dotted = string.Join(".", mine);

            UpdateCheckResult result;
            try
            {
                // Blocking is right here alone: a UI thread awaits instead.
                result = UpdateChecker.CheckAsync(url, mine[0], mine[1], mine[2],
                                                  CancellationToken.None).GetAwaiter().GetResult();
            }
            catch (COMException e)
            {
                Console.WriteLine("The check could not start: 0x{0:X8}", e.HResult);
                return 2;
            }
            catch (TimeoutException e)
            {
                Console.WriteLine(e.Message);
                return 2;
            }
            if (result.ServerEnded)
            {
                Console.WriteLine("The update checker's server ended during the check (error 0x{0:X8})",
                                  result.ServerError);
                return 2;
            }
            if (!result.Succeeded)
            {
                Console.WriteLine("The check failed: nothing was published at " + url);
                return 2;
            }

            Console.WriteLine("Published version: {0}.{1}.{2}", result.Major, result.Minor,
                              result.Build);
            Console.WriteLine("Update URL: " + result.UpdateURL);
            // IsUpgradeAvailable says only that the versions differ; order decides.
            Console.WriteLine("Differs from {0}: {1}", dotted, result.Differs ? "yes" : "no");
            int order = result.CompareTo(mine[0], mine[1], mine[2]);
            Console.WriteLine(order > 0   ? "A newer version is available."
                              : order < 0 ? "The published version is older than this one."
                                          : "This version is up to date.");
            return order > 0 ? 1 : 0;
        }
    }
}
