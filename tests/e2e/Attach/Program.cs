using System.Runtime.CompilerServices;
using Microsoft.Diagnostics.NETCore.Client;

namespace E2E.Attach;

// Attaches profilers to its own process through the runtime's diagnostics server, one after the other,
// working between the attaches; prints what each attach answered and whether the profiler's library is
// mapped afterwards.
//   dotnet Attach.dll <class id>=<library> ...
public static class Program
{
    private static readonly TimeSpan AttachTimeout = TimeSpan.FromSeconds(10);

    public static int Main(string[] args)
    {
        Console.WriteLine($"work {Work(20)}");
        foreach (string profiler in args)
        {
            string[] parts = profiler.Split('=', 2);
            Console.WriteLine($"attach {parts[0]}: {Attach(Guid.Parse(parts[0]), parts[1])}");
            Console.WriteLine($"library {(IsMapped(parts[1]) ? "mapped" : "not mapped")}");
            Console.WriteLine($"work {Work(20)}");
        }
        Console.WriteLine("end");
        return 0;
    }

    private static string Attach(Guid clsid, string library)
    {
        try
        {
            new DiagnosticsClient(Environment.ProcessId).AttachProfiler(AttachTimeout, clsid, library, []);
            return "accepted";
        }
        catch (Exception e)
        {
            return $"refused: {e.GetType().Name}: {e.Message}";
        }
    }

    private static bool IsMapped(string library) =>
        File.ReadLines("/proc/self/maps").Any(line => line.EndsWith(" " + Path.GetFullPath(library)));

    // Fresh code to compile, threads and collections after each attach.
    [MethodImpl(MethodImplOptions.NoInlining)]
    private static long Work(int n)
    {
        long total = 0;
        Parallel.For(0, 4, i => Interlocked.Add(ref total, Fibonacci(n + i)));
        GC.Collect();
        return total;
    }

    [MethodImpl(MethodImplOptions.NoInlining)]
    private static long Fibonacci(int n) => n < 2 ? n : Fibonacci(n - 1) + Fibonacci(n - 2);
}
