using System.Reflection;
using System.Runtime.CompilerServices;
using System.Runtime.InteropServices;
using System.Runtime.Loader;

namespace Bench.App;

// Calls every generated method once, so that the runtime compiles each of them, and prints what they
// compute (the same text on every run). With "rounds N", loads the program's own assembly into a
// collectible context N times instead, calls it (a core library generic over one of its types) and unloads
// it, and prints the bytes malloc holds after round 10 and after round N, each after a full collection.
//   dotnet BenchApp.dll [rounds N]
public static class Program
{
    private const int MeasuredAfter = 10;

    public static int Main(string[] args)
    {
        if (args.Length == 2 && args[0] == "rounds")
        {
            return Rounds(int.Parse(args[1]));
        }
        long total = Generated.Methods.RunAll();
        Console.WriteLine($"methods {Generated.Methods.Count} total {total}");
        return 0;
    }

    public struct Item
    {
        public int Value;
    }

    // Called in the collectible copy.
    public static int Round(int round)
    {
        var items = new List<Item> { new Item { Value = round } };
        items.Add(new Item { Value = 1 });
        return items.Count + items[0].Value;
    }

    private static int Rounds(int rounds)
    {
        var measured = new List<string>();
        for (int round = 1; round <= rounds; round++)
        {
            WeakReference context = LoadCallUnload(round);
            for (int attempt = 0; attempt < 100 && context.IsAlive; attempt++)
            {
                GC.Collect();
                GC.WaitForPendingFinalizers();
            }
            if (context.IsAlive)
            {
                Console.WriteLine($"round {round} not unloaded");
                return 1;
            }
            if (round == MeasuredAfter || round == rounds)
            {
                measured.Add($"{round} {NativeHeapInUse()}");
            }
        }
        Console.WriteLine($"heap {string.Join(" ", measured)}");
        return 0;
    }

    [MethodImpl(MethodImplOptions.NoInlining)]
    private static WeakReference LoadCallUnload(int round)
    {
        var context = new AssemblyLoadContext($"round {round}", isCollectible: true);
        Assembly assembly = context.LoadFromAssemblyPath(typeof(Program).Assembly.Location);
        MethodInfo run = assembly.GetType("Bench.App.Program")!.GetMethod("Round")!;
        if ((int)run.Invoke(null, new object[] { round })! != round + 2)
        {
            throw new InvalidOperationException($"round {round}: wrong value");
        }
        context.Unload();
        return new WeakReference(context);
    }

    [StructLayout(LayoutKind.Sequential)]
    private struct MallInfo2
    {
        public nuint Arena, OrdBlks, SmBlks, HBlks, HBlkHd, UsmBlks, FsmBlks, UordBlks, FordBlks, KeepCost;
    }

    [DllImport("libc", EntryPoint = "mallinfo2")]
    private static extern MallInfo2 MallInfo();

    private static ulong NativeHeapInUse()
    {
        MallInfo2 info = MallInfo();
        return info.UordBlks + info.HBlkHd;
    }
}
